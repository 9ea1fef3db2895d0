// The serial port's rules that the Qt, Win32 and simulated ports share, on a
// stand-in device whose event loop the test runs by hand.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/shared/SerialCore.h"
#include "sim/SimPlatform.h"

namespace ovrin {
namespace {

// Records its operations in `calls`; the operation named in `failing` fails, and
// `gone` makes each one report the device lost first, as a pulled adapter does.
class Device final : public SerialCore {
public:
    ~Device() override { CloseAtEnd(); }
    std::string DeviceName(int16_t) const override { return {}; }
    std::string PortProblem(int16_t) const override { return {}; }
    void Run() { sim::RunQueued(loop_); }  // the event loop, until nothing waits
    using SerialCore::Generation;
    using SerialCore::QueueEvent;
    using SerialCore::ReportLost;

    std::vector<std::string> calls;
    std::string failing;
    bool gone = false;
    std::optional<uint8_t> lines;

private:
    void Do(const std::string& call) {
        if (gone) ReportLost(Generation(), "unplugged");
        calls.push_back(call);
        if (gone || (!failing.empty() && call.rfind(failing, 0) == 0)) throw PlatformError(call + " refused");
    }
    void OpenDevice() override { Do("open"); }
    void CloseDevice() noexcept override { calls.push_back("close"); }
    void ApplySettings(const LineSettings& s) override { Do("settings " + FormatLineSettings(s)); }
    void SetDeviceLine(Line line, bool on) override { Do((line == Line::Rts ? "rts " : "dtr ") + std::to_string(on)); }
    int32_t Waiting() override { return (Do("waiting"), 0); }
    Bytes Read() override { return (Do("read"), Bytes()); }
    void Write(const Bytes& data) override { Do("write " + data); }
    int32_t Unsent() override { return 3; }
    void WaitSent(int timeoutMs) override { calls.push_back("drain " + std::to_string(timeoutMs)); }
    std::optional<uint8_t> DeviceModemLines() override { return (calls.push_back("lines"), lines); }
    int32_t DeviceLatencyMs() override { return 17; }
    void Post(std::function<void()> work, bool) override { loop_.push_back(std::move(work)); }

    std::deque<std::function<void()>> loop_;
};

std::string Failure(const std::function<void()>& call) {
    try {
        call();
    } catch (const PlatformError& e) {
        return e.what();
    }
    return "";
}

TEST(SerialCore, EachOperationOnlyInItsStatesWithTheErrorsTheHandlersKnow) {
    const struct {
        const char* name;
        std::function<void(Device&)> call;
        const char* closed;
        const char* open;
    } rows[] = {
        {"port number", [](Device& d) { d.SetCommPort(2); }, "", "Port already open"},
        {"port 0", [](Device& d) { d.SetCommPort(0); }, kInvalidPropertyValue, "Port already open"},
        {"4-bit characters", [](Device& d) { d.SetSettings("9600,n,4,1"); }, kInvalidPropertyValue,
         kInvalidPropertyValue},
        {"settings", [](Device& d) { d.SetSettings("4800,e,7,2"); }, "", ""},
        {"open", [](Device& d) { d.SetPortOpen(true); }, "", "Port already open"},
        {"close", [](Device& d) { d.SetPortOpen(false); }, "", ""},
        {"read", [](Device& d) { d.Input(); }, "The device is not open", ""},
        {"count", [](Device& d) { d.InBufferCount(); }, "The device is not open", ""},
        {"write", [](Device& d) { d.Output("FA;"); }, "The device is not open", ""},
    };
    for (const auto& row : rows) {
        for (const bool open : {false, true}) {
            Device d;
            if (open) d.SetPortOpen(true);
            EXPECT_EQ(Failure([&] { row.call(d); }), open ? row.open : row.closed) << row.name << " open " << open;
        }
    }
    // Closed, the port tells nothing and asks the device nothing.
    Device d;
    d.Drain(100);
    EXPECT_TRUE(d.OutBufferCount() + d.ModemLines() + d.DeliveryLatencyMs() == 0 && d.calls.empty());
    d.SetPortOpen(true);
    EXPECT_EQ(d.OutBufferCount() + d.DeliveryLatencyMs(), 3 + 17);
    // A device without modem lines is asked once per open.
    for (int open = 0; open < 2; ++open) {
        EXPECT_EQ(d.ModemLines() + d.ModemLines(), 0);
        d.SetPortOpen(false);
        d.SetPortOpen(true);
    }
    EXPECT_EQ(std::count(d.calls.begin(), d.calls.end(), "lines"), 2);
    d.lines = kLineCTS | kLineDSR;
    d.SetPortOpen(false);
    d.SetPortOpen(true);
    EXPECT_EQ(d.ModemLines(), kLineCTS | kLineDSR);
}

// Kept while closed and applied at open by the device; set while open, applied at
// once, and a refusal leaves the line and the property as they were. Every close
// lets what was written leave first (bounded), then drops RTS; the request stays
// for the next open. A device found gone is not waited for.
TEST(SerialCore, RefusalsLeaveTheLineAsItIsAndCloseDrainsThenDropsRts) {
    Device d;
    d.SetSettings("4800,e,7,2");
    d.SetRTSEnable(true);
    EXPECT_TRUE(d.calls.empty());
    d.SetPortOpen(true);
    d.failing = "settings 19200";
    EXPECT_EQ(Failure([&] { d.SetSettings("19200,n,8,1"); }), "settings 19200,n,8,1 refused");
    EXPECT_EQ(d.Settings(), "4800,e,7,2");
    d.failing = "dtr";
    EXPECT_EQ(Failure([&] { d.SetDTREnable(true); }), "dtr 1 refused");
    EXPECT_FALSE(d.DTREnable());
    d.Output("RX;");
    d.SetPortOpen(false);
    EXPECT_EQ(d.calls, (std::vector<std::string>{"open", "settings 19200,n,8,1", "settings 4800,e,7,2", "dtr 1",
                                                 "write RX;", "drain 500", "rts 0", "close"}));
    EXPECT_TRUE(d.RTSEnable());
    d.calls.clear();
    d.SetPortOpen(true);
    d.gone = true;
    EXPECT_EQ(Failure([&] { d.Output("RX;"); }), "write RX; refused");
    EXPECT_EQ(d.calls, (std::vector<std::string>{"open", "write RX;", "rts 0", "close"}));
}

// Events wait for the loop, one of each kind for all that came; none is raised
// for a port closed, or closed and reopened, since it was queued.
TEST(SerialCore, EventsComeFromTheLoopOnceAndNeverForAChangedPort) {
    Device d;
    std::vector<int> events;
    d.OnComm = [&](CommEvent e) { events.push_back(e); };
    d.SetPortOpen(true);
    for (int i = 0; i < 2; ++i) {
        d.QueueEvent(comEvReceive, d.Generation());
        d.QueueEvent(comEvSend, d.Generation());
    }
    EXPECT_TRUE(events.empty());
    d.Run();
    EXPECT_EQ(events, (std::vector<int>{comEvReceive, comEvSend}));
    for (const bool reopen : {false, true}) {
        events.clear();
        const uint64_t before = d.Generation();
        d.QueueEvent(comEvReceive, before);
        d.SetPortOpen(false);
        if (reopen) d.SetPortOpen(true);
        d.QueueEvent(comEvReceive, before);  // late, from a thread of the earlier open
        d.Run();
        EXPECT_TRUE(events.empty()) << reopen;
    }
    d.QueueEvent(comEvReceive, d.Generation());  // a new open's first event is not held back
    d.Run();
    EXPECT_EQ(events, std::vector<int>{comEvReceive});
}

// A device found gone is closed at once for the system and told once, from the
// loop; not at all if the system closed or reopened the port meanwhile.
TEST(SerialCore, ALostDeviceIsClosedAndToldOnce) {
    const struct {
        const char* name;
        std::function<void(Device&)> meanwhile;
        int told;
    } rows[] = {
        {"nothing", [](Device&) {}, 1},
        {"a read", [](Device& d) { EXPECT_EQ(Failure([&] { d.Input(); }), "The device is not open"); }, 1},
        {"a close", [](Device& d) { d.SetPortOpen(false); }, 0},
        {"a reopen", [](Device& d) { d.SetPortOpen(true); }, 0},
    };
    for (const auto& row : rows) {
        Device d;
        std::vector<std::string> told;
        d.Lost = [&](const std::string& why) { told.push_back(why); };
        d.SetPortOpen(true);
        d.ReportLost(d.Generation(), "unplugged");
        d.ReportLost(d.Generation(), "again");
        EXPECT_FALSE(d.PortOpen()) << row.name;
        row.meanwhile(d);
        d.Run();
        EXPECT_EQ(told, std::vector<std::string>(row.told, "unplugged")) << row.name;
        EXPECT_EQ(std::count(d.calls.begin(), d.calls.end(), "close"), 1) << row.name;
        EXPECT_EQ(std::count(d.calls.begin(), d.calls.end(), "drain 500"), 0) << row.name;
    }
}

}  // namespace
}  // namespace ovrin
