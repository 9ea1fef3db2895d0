#include <gtest/gtest.h>

#include "net/Listener.h"
#include "sim/SimPlatform.h"

namespace ovrin {
namespace {

using sim::SimApp;

struct Listening : ::testing::Test {
    SimApp app;
    frmMain& f = app.f;
    void SetUp() override { app.Load(); }
};

TEST_F(Listening, OneClientAtATimeAndTheNextGetsSlotOneWithoutANewTest) {
    ASSERT_TRUE(app.sockets.RequestConnection("198.51.100.7"));
    EXPECT_EQ(f.cboConn.Text(), "ON-LINE");
    EXPECT_EQ(f.cboRmtAddress.Text(), "198.51.100.7");
    EXPECT_EQ(f.lblRmtAddress.Caption(), "Rmt IP Adrs (1): ");
    EXPECT_TRUE(f.tmrRx.Enabled());
    EXPECT_FALSE(f.txtHostPort.Enabled());

    EXPECT_FALSE(app.sockets.RequestConnection());
    EXPECT_EQ(app.sockets.refused.size(), 1u);
    EXPECT_EQ(f.cboConn.Text(), "ON-LINE");

    const int listens = app.sockets.listens;
    const int opens = app.com.opens;
    app.sockets.PeerCloses(1);
    EXPECT_EQ(f.cboConn.Text(), "Listen");
    EXPECT_EQ(f.cboRmtAddress.Text(), "      .      .      .");
    EXPECT_EQ(f.lblRmtAddress.Caption(), "Rmt IP Adrs: ");
    EXPECT_FALSE(f.tmrRx.Enabled());
    EXPECT_TRUE(app.com.PortOpen());  // "Com Port active in Listen Mode"
    ASSERT_TRUE(app.sockets.RequestConnection());
    EXPECT_TRUE(app.sockets.Exists(1));
    EXPECT_EQ(app.sockets.listens, listens);
    EXPECT_EQ(app.com.opens, opens + 1);  // the first client reopens the port
}

TEST_F(Listening, LastClientLeavingClosesThePortUnlessKeptActive) {
    f.chkComPortActiveInListen.SetValue(0);
    ASSERT_TRUE(app.sockets.RequestConnection());
    app.sockets.RaiseError(1);
    EXPECT_FALSE(app.com.PortOpen());
    EXPECT_EQ(f.cboConn.Text(), "Listen");
    EXPECT_FALSE(app.sockets.Exists(1));
}

TEST_F(Listening, BridgeFillsFiveSlotsInOrderAndReusesTheLowest) {
    f.chkBridge.SetValue(1);
    for (int i = 1; i <= 5; ++i) ASSERT_TRUE(app.sockets.RequestConnection("10.0.0." + std::to_string(i)));
    EXPECT_FALSE(app.sockets.RequestConnection());  // no free slot
    EXPECT_EQ(app.sockets.refused.size(), 1u);
    EXPECT_EQ(f.lblRmtAddress.Caption(), "Rmt IP Adrs (5): ");
    app.sockets.PeerCloses(2);
    EXPECT_EQ(f.lblRmtAddress.Caption(), "Rmt IP Adrs (4): ");
    ASSERT_TRUE(app.sockets.RequestConnection("10.0.0.9"));
    EXPECT_EQ(app.Client(2).RemoteHostIP(), "10.0.0.9");
    EXPECT_EQ(f.cboRmtAddress.List(1), "10.0.0.9");  // by slot, not by arrival
    app.sockets.PeerCloses(1);
    EXPECT_EQ(f.cboRmtAddress.Text(), "10.0.0.9");
    EXPECT_EQ(f.cboConn.Text(), "ON-LINE");
}

TEST_F(Listening, ErrorOnTheListenerClosesEveryClient) {
    f.chkBridge.SetValue(1);
    ASSERT_TRUE(app.sockets.RequestConnection());
    ASSERT_TRUE(app.sockets.RequestConnection());
    app.sockets.RaiseError(0);
    EXPECT_EQ(app.sockets.Count(), 1);
    EXPECT_FALSE(f.OnLine);
    EXPECT_EQ(f.cboConn.Text(), "Listen");
}

TEST_F(Listening, SerialPortMissingForTheFirstClient) {
    app.f.chkComPortActiveInListen.SetValue(0);
    CloseConnection(f, 0);
    app.com.SetPortOpen(false);
    f.cboComPort.SetText("COM7 ");
    EXPECT_FALSE(app.sockets.RequestConnection());
    ASSERT_EQ(app.dialogs.shown.size(), 1u);
    EXPECT_EQ(app.dialogs.shown[0].text, "Error opening COM7 \r\rInvalid port number");
    EXPECT_EQ(app.dialogs.shown[0].title, "Error");
    EXPECT_EQ(app.dialogs.shown[0].icon, MsgIcon::None);
    EXPECT_FALSE(f.OnLine);
    EXPECT_EQ(f.cboConn.ListIndex(), 1);  // Listen selected again
    EXPECT_EQ(app.sockets.Element(0).State(), sckListening);
    EXPECT_FALSE(f.ClosingConnection);
}

TEST_F(Listening, CloseEventDuringACloseIsIgnored) {
    f.chkBridge.SetValue(1);
    ASSERT_TRUE(app.sockets.RequestConnection());
    ASSERT_TRUE(app.sockets.RequestConnection());
    f.ClosingConnection = true;  // as while an earlier close event is handled
    app.sockets.PeerCloses(2);
    EXPECT_TRUE(app.sockets.Exists(2));
    f.ClosingConnection = false;
    app.sockets.PeerCloses(2);
    EXPECT_FALSE(app.sockets.Exists(2));
}

TEST_F(Listening, PortTestMessagesNameThePort) {
    app.sockets.busyPorts = {4000};
    f.txtHostPort.SetText("4000");
    f.OnLine = true;
    TestHostPort(f);
    EXPECT_FALSE(f.OnLine);
    ASSERT_EQ(app.dialogs.shown.size(), 1u);
    EXPECT_EQ(app.dialogs.shown[0].title, "Host Port Active");
    EXPECT_EQ(app.dialogs.shown[0].text,
              "Host Port 4000 is connected to another application.\r\rSelect another Local Port then click the "
              "Listen button.");
    f.txtHostPort.SetText("abc");  // not a number: names the port the listener had
    TestHostPort(f);
    EXPECT_EQ(app.dialogs.shown[1].text.rfind("Host Port 4000 is", 0), 0u);
    EXPECT_EQ(app.sockets.Element(0).State(), sckClosed);
}

TEST_F(Listening, ConnectResetBurstsLeaveTheTableConsistent) {
    f.chkBridge.SetValue(1);
    for (int round = 0; round < 50; ++round) {
        app.sockets.RequestConnection();
        for (int16_t i = 1; i <= 5; ++i)
            if (app.sockets.Exists(i) && (round + i) % 3 == 0) app.sockets.PeerCloses(i);
    }
    for (int16_t i = 1; i <= 5; ++i)
        if (app.sockets.Exists(i)) app.sockets.PeerCloses(i);
    EXPECT_EQ(app.sockets.Count(), 1);
    EXPECT_EQ(f.cboRmtAddress.ListCount(), 0);
    EXPECT_EQ(f.cboConn.Text(), "Listen");
    EXPECT_FALSE(f.tmrRx.Enabled());
}

}  // namespace
}  // namespace ovrin
