// The serial facility on a pseudo-terminal: the test holds the master side (the
// "radio"), the facility opens the slave through <folder>/dosdevices/com20.
#include <fcntl.h>
#include <pty.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#include "QtTestSupport.h"
#include "platform/qt/QtCommControl.h"

namespace ovrin::qt {
namespace {

using test::Drain;
using test::WaitUntil;
namespace fs = std::filesystem;

class SerialTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(Link().parent_path());
        Plug();
        com_.SetCommPort(20);  // above the fixed table, so only the link names it
    }
    void TearDown() override { Unplug(); }

    fs::path Link() const { return fs::path(folder_.path().toStdString()) / "dosdevices" / "com20"; }
    void Plug() {  // a new device behind the link
        int slave = -1;
        char name[256] = {};
        ASSERT_EQ(::openpty(&master_, &slave, name, nullptr, nullptr), 0);
        ::close(slave);
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        fs::remove(Link());
        fs::create_symlink(name, Link());
    }
    void Unplug() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }
    std::string Read(std::size_t count) {  // what the facility sent
        std::string got;
        WaitUntil([&] {
            char buffer[4096];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
            return got.size() >= count;
        });
        return got;
    }

    QTemporaryDir folder_;
    int master_ = -1;
    QtCommControl com_{folder_.path().toStdString()};
};

// Opening a tty raises DTR and RTS; telling whether a port is there must not.
TEST_F(SerialTest, AvailabilityIsToldWithoutOpeningTheDevice) {
    const int watch = ::inotify_init1(IN_NONBLOCK);
    ASSERT_GE(::inotify_add_watch(watch, fs::canonical(Link()).c_str(), IN_OPEN), 0);
    auto opened = [&] {
        char events[4096];
        return ::read(watch, events, sizeof events) > 0;
    };
    EXPECT_TRUE(com_.PortAvailable(20));
    EXPECT_FALSE(com_.PortAvailable(21));  // no link, nothing in the fixed table
    EXPECT_FALSE(opened());
    com_.SetPortOpen(true);  // the watch does see an open
    EXPECT_TRUE(opened());
    ::close(watch);
    fs::remove(Link());
    fs::create_symlink(folder_.path().toStdString(), Link());  // not a character device
    EXPECT_FALSE(com_.PortAvailable(20));
}

// Settings apply at open and, while open, at once (bad ones are refused by the
// shared core: SerialCore.EachOperationOnlyInItsStatesWithTheErrorsTheHandlersKnow). A pty
// reports speed and stop bits (always 8 bits without parity) and has no modem
// lines, which is no failure: the state asked for is kept. Another program cannot
// take the port, even through another link to the same device.
TEST_F(SerialTest, OpensExclusivelyWithItsSettingsAndAppliesNewOnesAtOnce) {
    auto line = [&] {
        termios t{};
        ::tcgetattr(master_, &t);  // on Linux the master reports the slave's settings
        return std::pair(cfgetospeed(&t), (t.c_cflag & CSTOPB) != 0);
    };
    com_.SetSettings("4800,o,7,2");
    com_.SetDTREnable(true);
    com_.SetPortOpen(true);
    EXPECT_EQ(line(), std::pair(static_cast<speed_t>(B4800), true));
    com_.SetSettings("19200,n,8,1");
    for (const bool on : {false, true}) {
        com_.SetDTREnable(on);
        com_.SetRTSEnable(!on);
        EXPECT_EQ(std::pair(com_.DTREnable(), com_.RTSEnable()), std::pair(on, !on));
    }
    EXPECT_EQ(line(), std::pair(static_cast<speed_t>(B19200), false));
    fs::create_symlink(fs::read_symlink(Link()), Link().parent_path() / "com21");
    for (const int16_t port : {20, 21}) {
        QtCommControl other(folder_.path().toStdString());
        other.SetCommPort(port);
        EXPECT_THROW(other.SetPortOpen(true), PlatformError) << "COM" << port;
    }
}

// Every byte value passes raw. What waits in the driver is counted and read
// without the event loop having run; the arrival it meets there is reported
// later, from the event loop. Output the driver cannot take yet waits, the port open.
TEST_F(SerialTest, EveryByteValuePassesBothWaysAndEventsComeOnlyFromTheEventLoop) {
    std::vector<CommEvent> events;
    com_.OnComm = [&](CommEvent e) { events.push_back(e); };
    com_.SetPortOpen(true);
    std::string bytes(256, '\0');
    for (int i = 0; i < 256; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<char>(i);
    ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), 256);
    int32_t count = 0;
    for (int i = 0; i < 500 && count < 256; ++i, ::usleep(1000)) count = com_.InBufferCount();
    EXPECT_EQ(std::tuple(count, com_.Input(), events.empty()), std::tuple(256, bytes, true));
    EXPECT_TRUE(WaitUntil([&] { return events == std::vector<CommEvent>{comEvReceive}; }));

    std::string sent;
    for (int block = 0; block < 32; ++block) {  // far more than the pty takes while nobody reads
        com_.Output(std::string(4096, static_cast<char>(block)) + bytes);
        sent += std::string(4096, static_cast<char>(block)) + bytes;
    }
    Drain(50);
    EXPECT_GT(com_.OutBufferCount(), 0);
    EXPECT_EQ(Read(sent.size()), sent);
    EXPECT_TRUE(WaitUntil([&] { return com_.OutBufferCount() == 0 && events.back() == comEvSend; }));
    EXPECT_TRUE(com_.PortOpen());
}

// Under a stand-in for /sys/class/tty: an FTDI adapter's timer, any USB adapter's
// 1 ms frame, a UART's FIFO threshold + 3 characters (11 at 9600,n,8,2: 12.6 ms).
TEST(DeviceDeliveryLatency, FromTheAdapterTimerOrTheUartFifoThreshold) {
    QTemporaryDir sysfs;
    const std::string root = sysfs.path().toStdString();
    for (const auto& [file, text] : {std::pair{"/ttyUSB0/device/latency_timer", "16\n"},
                                     {"/ttyS0/rx_trig_bytes", "8\n"}, {"/ttyS1/rx_trig_bytes", "1"}}) {
        fs::create_directories(fs::path(root + file).parent_path());
        std::ofstream(root + file) << text;
    }
    const std::pair<const char*, int32_t> rows[] = {{"ttyUSB0", 17}, {"ttyACM0", 1}, {"ttyS0", 13},
                                                    {"ttyS1", 0},    {"3", 0},       {"", 0}};
    for (const auto& [device, ms] : rows)
        EXPECT_EQ(DeviceDeliveryLatencyMs(root, device, *ParseLineSettings("9600,n,8,2")), ms) << device;
}

// A device that vanishes is closed and reported from the event loop, or inside the
// call that meets it (a modem line it could not set stays as it was); a link to no
// device names it; the port opens once it is back.
TEST_F(SerialTest, AMissingOrVanishedDeviceFailsClosedAndOpensOnceBack) {
    std::vector<std::string> lost;
    com_.Lost = [&](const std::string& why) { lost.push_back(why); };
    com_.SetPortOpen(true);
    Unplug();
    fs::remove(Link());
    ASSERT_TRUE(WaitUntil([&] { return !lost.empty() && !com_.PortOpen(); }, 1000));
    EXPECT_EQ(lost[0], "the device is gone");
    EXPECT_THROW(com_.Output("x"), PlatformError);
    fs::create_symlink("/dev/pts/no-such-terminal", Link());
    try {
        com_.SetPortOpen(true);
        ADD_FAILURE() << "opened";
    } catch (const PlatformError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("/dev/pts/no-such-terminal: ", 0), 0u) << e.what();
    }
    Plug();
    com_.SetPortOpen(true);
    com_.Output("again");
    EXPECT_EQ(Read(5), "again");
    Unplug();
    EXPECT_THROW(com_.SetDTREnable(true), PlatformError);
    EXPECT_THROW(com_.Output("x"), PlatformError);
    EXPECT_FALSE(com_.DTREnable() || com_.PortOpen());
    EXPECT_TRUE(WaitUntil([&] { return lost.size() == 2; }, 1000));

    // A port opened through its link never falls back to the fixed table's device
    // (COM1: /dev/ttyS0) once the link is gone: the radio is not there.
    const fs::path com1 = Link().parent_path() / "com1";
    Plug();
    fs::create_symlink(fs::canonical(Link()), com1);
    QtCommControl first(folder_.path().toStdString());
    first.SetCommPort(1);
    first.SetPortOpen(true);
    first.SetPortOpen(false);
    fs::remove(com1);
    try {
        first.SetPortOpen(true);
        ADD_FAILURE() << "opened without its link";
    } catch (const PlatformError& e) {
        EXPECT_NE(std::string(e.what()).find("the link to the device is gone"), std::string::npos) << e.what();
    }
}

}  // namespace
}  // namespace ovrin::qt
