// PTT on DTR: the window's rules act on the line that keys, the port opens with it
// low, every key (the in-band command, a remote serial port client's line) raises
// it and every way out drops it; the other line follows its own box.
#include <gtest/gtest.h>

#include "net/ComPortClient.h"
#include "sim/SimPlatform.h"

namespace ovrin {
namespace {

using sim::SimApp;

TEST(PttLine, TheBoxRulesActOnTheLineThatKeys) {
    const struct {
        PttLine line;
        Box box;
        std::string before, after;  // DTR, RTS, kept open, PTT control
    } rows[] = {
        {PttLine::Dtr, Box::PttControl, "1110", "0101"},
        {PttLine::Dtr, Box::Dtr, "0001", "1000"},
        {PttLine::Dtr, Box::KeepPortOpen, "0001", "1010"},
        {PttLine::Dtr, Box::Rts, "0001", "0101"},
        {PttLine::Rts, Box::PttControl, "1110", "1001"},
        {PttLine::Rts, Box::Dtr, "0001", "1001"},
    };
    const auto value = [](const std::string& flags) {
        StationSettings s;
        s.dtr = flags[0] - '0', s.rts = flags[1] - '0', s.keepPortOpen = flags[2] - '0', s.pttControl = flags[3] - '0';
        return s;
    };
    const auto flags = [](const StationSettings& s) {
        return std::to_string(s.dtr) + std::to_string(s.rts) + std::to_string(s.keepPortOpen) +
               std::to_string(s.pttControl);
    };
    for (const auto& row : rows) {
        StationSettings s = value(row.before);
        s.options.pttLine = row.line;
        s[row.box] = 0;
        EXPECT_EQ(flags(WithBox(s, row.box, 1)), row.after) << LineName(row.line) << " " << row.before;
    }
    StationSettings stored = value("1111");
    stored.options.pttLine = PttLine::Dtr;
    EXPECT_EQ(flags(Normalised(stored)), "0101");
    EXPECT_EQ(flags(WithPttLine(value("0101"), PttLine::Dtr)), "0101");
    EXPECT_EQ(flags(WithPttLine(value("1001"), PttLine::Dtr)), "0001");
}

// Serving a client with PTT control on DTR and RTS: checked.
struct DtrKeyer : SimApp {
    DtrKeyer() {
        f.station.Given.options = {{"clients", "2"}, {"rfc2217-port", "50001"}, {"ptt-line", "dtr"}};
        Load();
        f.cboConn.SetListIndex(0);
        f.chkRTS.SetValue(1);
        f.chkCtrlPTT.SetValue(1);
        f.cboConn.SetListIndex(1);
        com.dtrHistory.clear();
        com.dtrAtClose.clear();
    }
};

TEST(PttLine, DtrKeysAndEveryWayOutDropsIt) {
    DtrKeyer app;
    EXPECT_EQ(app.f.chkCtrlPTT.caption, "Control DTR as PTT");
    ASSERT_TRUE(app.sockets.RequestConnection());
    EXPECT_EQ(std::tuple(app.com.RTSEnable(), app.com.DTREnable()), std::tuple(true, false));
    EXPECT_TRUE(app.log.Has({"DTR off (PTT), RTS on"}));
    app.com.rtsHistory.clear();
    app.Send(1, "\x1B\x1B" "ATH1");
    EXPECT_TRUE(app.com.DTREnable() && app.log.Has({"PTT keyed", "by DTR (in-band command)"}));
    app.clock.Advance(kKeyRepeatMs);  // the watchdog
    EXPECT_FALSE(app.com.DTREnable());
    app.Send(1, "\x1B\x1B" "ATH1");
    app.f.cboConn.SetListIndex(0);  // Off-line while keyed
    // The release, then the line dropped once more right before the close.
    EXPECT_EQ(app.com.dtrHistory, (std::vector<bool>{true, false, true, false, false}));
    EXPECT_EQ(app.com.dtrAtClose, std::vector<bool>{false});
    EXPECT_TRUE(app.com.rtsHistory.empty());  // the free line never moved
}

// A remote serial port client keys with DTR; its RTS moves the line as it asks and
// goes back to the RTS box when it leaves.
TEST(PttLine, ARemoteSerialPortClientKeysWithDtrAndItsRtsFollowsTheBox) {
    DtrKeyer app;
    ASSERT_TRUE(app.sockets.RequestConnection());  // keeps the port open when the other goes
    ASSERT_TRUE(app.sockets.RequestConnection("198.51.100.5", kComPortListener));
    const auto control = [&](int value) { app.Send(2, sim::SetControl(value)); };
    control(8);  // DTR on at open: where it starts
    app.clock.Advance(1000);
    EXPECT_FALSE(app.com.DTREnable());
    control(12);  // RTS off: the line follows
    EXPECT_FALSE(app.com.RTSEnable());
    control(8);
    EXPECT_TRUE(app.com.DTREnable() && app.log.Has({"PTT keyed", "by DTR (remote serial port)"}));
    app.sockets.PeerCloses(2);
    EXPECT_EQ(std::tuple(app.com.DTREnable(), app.com.RTSEnable()), std::tuple(false, true));  // RTS back to its box
}

}  // namespace
}  // namespace ovrin
