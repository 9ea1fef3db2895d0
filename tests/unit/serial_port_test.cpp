// The serial port: opened with the window's settings under the rules of the RTS
// boxes, and recovered without a hand at the PC: a lost device tried again until
// it is back, open failures named without stacking boxes, a device missing at
// start told, and told again when it comes.
#include <gtest/gtest.h>

#include "serial/SerialPort.h"
#include "sim/SimPlatform.h"

namespace ovrin {
namespace {

using sim::SimApp;

// The RTS boxes exclude each other only while Off-line; the port opens with the
// window's settings, never raising an RTS that the client may key, and an open port
// is kept as it is.
TEST(OpenComPort, TheRtsRulesAndTheOpenNeverRaiseAControlledRts) {
    SimApp app;
    auto& f = app.f;
    f.cboConn.SetListIndex(0);
    f.chkCtrlPTT.SetValue(1);
    f.chkComPortActiveInListen.SetValue(1);  // checks RTS, whose rule clears RTS control
    EXPECT_EQ(f.chkRTS.Value() * 10 + f.chkCtrlPTT.Value(), 10);
    f.chkCtrlPTT.SetValue(1);
    EXPECT_EQ(f.chkRTS.Value() * 10 + f.chkComPortActiveInListen.Value(), 0);
    f.cboConn.SetListIndex(1);  // listening: the rules are off
    f.chkRTS.SetValue(1);
    EXPECT_EQ(f.chkCtrlPTT.Value(), 1);
    app.com.existing = {3};
    f.cboComPort.UserEdit(" com3 ");
    f.cboParity.UserEdit("Odd");
    bool failed = true;
    OpenComPort(f.station, failed);
    EXPECT_EQ(std::tuple(failed, app.com.CommPort(), app.com.Settings(), app.com.RTSEnable()),
              std::tuple(false, 3, "9600,o,8,2", false));
    OpenComPort(f.station, failed);
    EXPECT_EQ(app.com.opens, 1);
}

TEST(Recovery, ALostDeviceIsTriedEverySecondQuietlyUntilItIsBackOrNobodyNeedsIt) {
    SimApp app;
    app.Serve();
    app.com.Unplug("/dev/sim1: the device is gone");
    EXPECT_TRUE(app.log.Has({"COM1 (/dev/sim1) lost", "the device is gone"}));
    EXPECT_NE(app.f.cboConn.ToolTip().find("lost"), std::string::npos);
    const std::size_t lines = app.log.lines.size();
    const int opens = app.com.opens;
    app.sockets.ClientSends(1, "FA;");  // dropped, as for a closed port
    app.clock.Advance(2500);
    EXPECT_EQ(app.com.opens, opens);
    EXPECT_LE(app.log.lines.size(), lines + 1);  // a dropped write told once, no retry told
    app.com.existing.insert(1);  // plugged in again
    app.clock.Advance(1000);
    ASSERT_TRUE(app.com.PortOpen());
    EXPECT_TRUE(app.f.cboConn.ToolTip() == kConnToolTip && app.log.Has({"COM1 (/dev/sim1) is back"}));
    app.clock.Advance(3000);  // the dropped command's turn lapses
    app.sockets.ClientSends(1, "FA;");
    app.com.RadioSends("FA00014074000;");
    app.clock.Advance(100);
    EXPECT_EQ(std::pair(app.com.Written(), app.Client(1).sent), std::pair(Bytes("FA;"), Bytes("FA00014074000;")));

    app.f.chkComPortActiveInListen.SetValue(0);
    app.com.Unplug();
    app.sockets.PeerCloses(1);
    app.clock.Advance(1000);
    EXPECT_FALSE(app.f.station.tmrReopen.Enabled());
}

TEST(Recovery, OpenFailuresNameTheDeviceAndTheReasonWithoutStackingBoxes) {
    SimApp app;
    app.com.existing.clear();
    app.Load();  // Listen with the port kept active: the open fails, Off-line
    EXPECT_TRUE(app.log.Has({"Serial port COM1 (/dev/sim1) cannot be opened: No such file or directory; "
                             "looked for every 2 s until it can"}));
    EXPECT_EQ(app.f.cboConn.Text(), "Off-line");
    EXPECT_TRUE(app.dialogs.shown.empty() && app.log.Has({"COM1 cannot be opened", "Invalid port number"}));
    EXPECT_EQ(app.f.imgConn.ToolTip(), "Serial port COM1 cannot be opened: Invalid port number");

    app.f.chkComPortActiveInListen.SetValue(0);
    app.f.cboConn.SetListIndex(1);
    app.dialogs.whileOpen = [&] { app.sockets.RequestConnection(); };  // a second client meanwhile
    EXPECT_FALSE(app.sockets.RequestConnection());
    ASSERT_EQ(app.dialogs.shown.size(), 1u);
    EXPECT_EQ(app.dialogs.shown[0].text, "Error opening COM1\r\rInvalid port number");
    EXPECT_EQ(app.f.cboConn.ListIndex(), 1);  // Listen selected again
    EXPECT_EQ(app.sockets.Element(0).State(), sckListening);
    app.clock.Advance(10000);
    EXPECT_TRUE(!app.log.Has({"is there now"}) && app.f.cboComPort.ListCount() == 0);
    app.com.existing.insert(1);  // plugged in at last
    app.clock.Advance(2000);
    EXPECT_TRUE(app.log.Has({"Serial port COM1 (/dev/sim1) is there now and can be opened"}));
    EXPECT_FALSE(app.f.station.tmrDevice.Enabled());
    EXPECT_EQ(std::tuple(app.f.cboComPort.ListCount(), app.f.cboComPort.ListIndex()), std::tuple(1, 0));  // listed, chosen
}

}  // namespace
}  // namespace ovrin
