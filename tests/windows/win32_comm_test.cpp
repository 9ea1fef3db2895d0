// The Win32 serial facility's modem lines under Wine, COM1 being a pseudo-terminal
// (comm_test.sh): a device without modem-control lines keeps and reports the state
// asked for, told once in the log; once the device has gone, a change fails and
// the state stays as the line is.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/win32/MessageLoop.h"
#include "platform/win32/Win32CommControl.h"

namespace ovrin::win32 {
namespace {

class Lines final : public Log {
public:
    void Line(LogLevel, const std::string& text) override { lines.push_back(text); }
    std::vector<std::string> lines;
};

// The runner closes the terminal's other side once the file OVRIN_UNPLUG names is
// made, and makes that name with ".done" after it.
void Unplug() {
    const char* signal = std::getenv("OVRIN_UNPLUG");
    ASSERT_NE(signal, nullptr);
    CloseHandle(CreateFileA(signal, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    const std::string done = std::string(signal) + ".done";
    for (int i = 0; i < 500 && GetFileAttributesA(done.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(10);
}

TEST(Win32ModemLines, KeptWithoutTheLinesAndAsTheyAreWhenTheDeviceHasGone) {
    MessageLoop loop;
    Lines log;
    Win32CommControl com(loop, log);
    com.SetPortOpen(true);
    for (const bool on : {true, false, true}) {
        com.SetDTREnable(on);
        com.SetRTSEnable(!on);
        EXPECT_EQ(com.DTREnable(), on);
        EXPECT_EQ(com.RTSEnable(), !on);
    }
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_NE(log.lines[0].find("the requested state is kept"), std::string::npos) << log.lines[0];
    Unplug();
    EXPECT_THROW(com.SetDTREnable(false), PlatformError);
    EXPECT_TRUE(com.DTREnable());
    // Wine may take the next change once it has seen the device gone: kept when
    // refused, as asked when taken, never told one way and done the other.
    bool refused = false;
    try {
        com.SetRTSEnable(true);
    } catch (const PlatformError&) {
        refused = true;
    }
    EXPECT_EQ(com.RTSEnable(), !refused);
}

}  // namespace
}  // namespace ovrin::win32
