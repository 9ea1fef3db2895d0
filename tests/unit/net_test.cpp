// The listener and its clients, and recovery without a hand at the PC: clients
// that left settled before a newcomer is refused, a lost serial device tried again
// until it is back, open failures named without stacking boxes.
#include <gtest/gtest.h>

#include "serial/SerialPort.h"
#include "sim/SimPlatform.h"

namespace ovrin {
namespace {

TEST(Listener, OneClientAtATimeOneThatLeftSettledAndTheNextServedWithoutANewTest) {
    sim::SimApp app;
    app.Load();
    const int32_t listener = app.sockets.Element(0).handle;
    ASSERT_TRUE(app.sockets.RequestConnection("198.51.100.7"));
    EXPECT_EQ(app.f.cboConn.Text(), "ON-LINE");
    EXPECT_EQ(app.f.cboRmtAddress.Text(), "198.51.100.7");
    EXPECT_FALSE(app.sockets.RequestConnection("198.51.100.9"));
    EXPECT_TRUE(app.log.Has({"198.51.100.9", "refused", "another client is connected"}));

    KeyPTT(app.f, *app.f.connections.BySlot(1), KeyWay::InBand);
    app.Client(1).rx = "FA1;";  // sent just before it went
    app.Client(1).peerGone = true;  // its close event not yet delivered
    ASSERT_TRUE(app.sockets.RequestConnection("198.51.100.8"));
    EXPECT_EQ(app.Client(1).RemoteHostIP(), "198.51.100.8");
    EXPECT_EQ(app.com.Written(), "FA1;");
    EXPECT_FALSE(app.com.RTSEnable());
    EXPECT_TRUE(app.log.Has({"198.51.100.7", "left"}));

    app.sockets.PeerCloses(1);
    EXPECT_EQ(app.f.cboConn.Text(), "Listen");
    EXPECT_TRUE(app.com.PortOpen());  // "Com Port active in Listen Mode"
    ASSERT_TRUE(app.sockets.RequestConnection());
    EXPECT_TRUE(app.sockets.Exists(1));
    EXPECT_EQ(app.sockets.Element(0).handle, listener);
}

TEST(Listener, BridgeFillsFiveSlotsReusesTheLowestAndAListenerErrorClosesAll) {
    sim::SimApp app;
    app.Load();
    app.f.chkBridge.SetValue(1);
    for (int i = 1; i <= 5; ++i) ASSERT_TRUE(app.sockets.RequestConnection("10.0.0." + std::to_string(i)));
    EXPECT_FALSE(app.sockets.RequestConnection());  // no free slot
    EXPECT_EQ(app.f.lblRmtAddress.Caption(), "Rmt IP Adrs (5): ");
    app.sockets.PeerCloses(2);
    ASSERT_TRUE(app.sockets.RequestConnection("10.0.0.9"));
    EXPECT_EQ(app.Client(2).RemoteHostIP(), "10.0.0.9");
    EXPECT_EQ(app.f.cboRmtAddress.List(1), "10.0.0.9");  // by slot, not by arrival
    app.sockets.RaiseError(0);
    EXPECT_EQ(app.sockets.Count(), 1);
    EXPECT_EQ(app.f.cboConn.Text(), "Listen");
}

TEST(Recovery, ALostDeviceIsTriedEverySecondQuietlyUntilItIsBackOrNobodyNeedsIt) {
    sim::SimApp app;
    app.Serve();
    app.com.Unplug("/dev/sim1: the device is gone");
    EXPECT_TRUE(app.log.Has({"COM1 (/dev/sim1) lost", "the device is gone"}));
    EXPECT_NE(app.f.cboConn.ToolTip().find("lost"), std::string::npos);
    const std::size_t lines = app.log.lines.size();
    const int opens = app.com.opens;
    app.sockets.ClientSends(1, "FA;");  // dropped, as for a closed port
    app.clock.Advance(2500);
    EXPECT_EQ(app.com.opens, opens);
    EXPECT_EQ(app.log.lines.size(), lines);
    app.com.existing.insert(1);  // plugged in again
    app.clock.Advance(1000);
    ASSERT_TRUE(app.com.PortOpen());
    EXPECT_EQ(app.f.cboConn.ToolTip(), kConnToolTip);
    EXPECT_TRUE(app.log.Has({"COM1 (/dev/sim1) is back"}));
    app.clock.Advance(3000);  // the dropped command's turn lapses
    app.sockets.ClientSends(1, "FA;");
    app.com.RadioSends("FA00014074000;");
    app.clock.Advance(100);
    EXPECT_EQ(app.com.Written(), "FA;");
    EXPECT_EQ(app.Client(1).sent, "FA00014074000;");

    app.f.chkComPortActiveInListen.SetValue(0);
    app.com.Unplug();
    app.sockets.PeerCloses(1);
    app.clock.Advance(1000);
    EXPECT_FALSE(app.f.tmrReopen.Enabled());
}

TEST(Recovery, OpenFailuresNameTheDeviceAndTheReasonWithoutStackingBoxes) {
    sim::SimApp app;
    app.com.existing.clear();
    app.Load();  // Listen with the port kept active: the open fails, Off-line
    EXPECT_EQ(app.f.cboConn.Text(), "Off-line");
    EXPECT_TRUE(app.dialogs.shown.empty());
    EXPECT_TRUE(app.log.Has({"COM1 cannot be opened", "Invalid port number"}));
    EXPECT_EQ(app.f.imgConn.ToolTip(), "Serial port COM1 cannot be opened: Invalid port number");

    app.f.chkComPortActiveInListen.SetValue(0);
    app.f.cboConn.SetListIndex(1);
    app.dialogs.whileOpen = [&] { app.sockets.RequestConnection(); };  // a second client meanwhile
    EXPECT_FALSE(app.sockets.RequestConnection());
    ASSERT_EQ(app.dialogs.shown.size(), 1u);
    EXPECT_EQ(app.dialogs.shown[0].text, "Error opening COM1\r\rInvalid port number");
    EXPECT_EQ(app.f.cboConn.ListIndex(), 1);  // Listen selected again
    EXPECT_EQ(app.sockets.Element(0).State(), sckListening);
}

}  // namespace
}  // namespace ovrin
