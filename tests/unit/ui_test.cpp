#include <gtest/gtest.h>

#include "net/Listener.h"
#include "sim/SimPlatform.h"
#include "ui/ConnectionStatus.h"
#include "ui/StatusIcon.h"

namespace ovrin {
namespace {

using sim::SimApp;

struct Status : ::testing::Test {
    SimApp app;
    frmMain& f = app.f;
    void SetUp() override { app.Load(); }
    void Type(const std::string& text) {
        f.txtHostPort.SetText(text);
        txtHostPort_KeyUp(f);
    }
};

TEST_F(Status, OffLineClosesEverythingAndUnlocksEvenWhenRepeated) {
    ASSERT_TRUE(app.sockets.RequestConnection());
    for (int i = 0; i < 2; ++i) {
        f.cboConn.SetListIndex(0);
        EXPECT_EQ(f.cboConn.Text(), "Off-line");
        EXPECT_EQ(app.sockets.Count(), 1);
        EXPECT_EQ(app.sockets.Element(0).State(), sckClosed);
        EXPECT_FALSE(app.com.PortOpen());
        EXPECT_TRUE(f.txtHostPort.Enabled());
        EXPECT_TRUE(f.chkBridge.Enabled());
        EXPECT_FALSE(f.InConnClick);
    }
}

TEST_F(Status, ListenWhileOnLineChangesOnlyTheText) {
    ASSERT_TRUE(app.sockets.RequestConnection());
    f.cboConn.SetListIndex(1);
    EXPECT_EQ(f.cboConn.Text(), "Listen");
    EXPECT_TRUE(app.sockets.Exists(1));
    RefreshControlState(f);
    EXPECT_EQ(f.cboConn.Text(), "ON-LINE");
}

TEST_F(Status, ListenOpensTheSerialPortOnlyWhenKeptActive) {
    f.cboConn.SetListIndex(0);
    f.chkComPortActiveInListen.SetValue(0);
    f.cboConn.SetListIndex(1);
    EXPECT_EQ(app.sockets.Element(0).State(), sckListening);
    EXPECT_FALSE(app.com.PortOpen());
    f.cboConn.SetListIndex(0);
    f.chkComPortActiveInListen.SetValue(1);
    app.com.existing.clear();  // the port cannot be opened: silently Off-line
    f.cboConn.SetListIndex(1);
    EXPECT_EQ(f.cboConn.Text(), "Off-line");
    EXPECT_EQ(app.sockets.Element(0).State(), sckClosed);
    EXPECT_TRUE(app.dialogs.shown.empty());
}

TEST_F(Status, PortInUseEndsOffLineAfterTheMessage) {
    f.cboConn.SetListIndex(0);
    app.sockets.busyPorts = {50000};
    f.cboConn.SetListIndex(1);
    ASSERT_EQ(app.dialogs.shown.size(), 1u);
    EXPECT_EQ(app.dialogs.shown[0].title, "Host Port Active");
    EXPECT_EQ(f.cboConn.Text(), "Off-line");
    EXPECT_TRUE(f.txtHostPort.Enabled());
    EXPECT_FALSE(f.OnLine);
}

TEST_F(Status, DefaultRefusedWhileConnectedNoWhileListeningYesResetsSix) {
    app.sockets.Element(0).state = sckConnected;
    f.cboConn.SetListIndex(2);
    EXPECT_EQ(app.dialogs.shown.back().title, "Connections Open");
    EXPECT_EQ(f.cboConn.Text(), "Default");
    app.sockets.Element(0).state = sckListening;

    f.cboBaud.SetText("1200");
    app.dialogs.Answer(MsgResult::No);
    f.cboConn.SetListIndex(2);
    EXPECT_EQ(app.dialogs.shown.back().title, "Defaults");
    EXPECT_EQ(f.cboBaud.Text(), "1200");
    EXPECT_EQ(f.cboConn.Text(), "Off-line");

    for (ComboBox* c : {&f.cboInterbyte, &f.cboBaud, &f.cboBits, &f.cboParity, &f.cboStop, &f.cboComPort})
        c->SetText("x");
    f.txtHostPort.SetText("1");
    f.chkDTR.SetValue(1);
    f.chkBridge.SetValue(1);
    const int writes = app.host.writes;
    app.dialogs.Answer(MsgResult::Yes);
    f.cboConn.SetListIndex(2);
    EXPECT_EQ(f.txtHostPort.Text() + f.cboInterbyte.Text() + f.cboBaud.Text() + f.cboBits.Text() +
                  f.cboParity.Text() + f.cboStop.Text(),
              "50000100 mS96008None2");
    EXPECT_EQ(f.cboComPort.Text(), "x");
    EXPECT_EQ(f.chkDTR.Value() + f.chkBridge.Value(), 2);
    EXPECT_EQ(app.host.writes, writes + 1);
    EXPECT_EQ(f.cboConn.Text(), "Off-line");
}

TEST_F(Status, PictureClickListensOrAsksBeforeGoingOffLine) {
    f.cboConn.SetListIndex(0);
    f.imgConn.Click();
    EXPECT_EQ(app.sockets.Element(0).State(), sckListening);
    ASSERT_TRUE(app.sockets.RequestConnection());
    app.dialogs.Answer(MsgResult::No);
    f.imgConn.Click();
    EXPECT_EQ(app.dialogs.shown.back().title, "Off-Line");
    EXPECT_TRUE(app.sockets.Exists(1));
    app.dialogs.Answer(MsgResult::Yes);
    f.imgConn.Click();
    EXPECT_EQ(app.sockets.Count(), 1);
    EXPECT_EQ(f.cboConn.Text(), "Off-line");
}

TEST_F(Status, PortEntryIsCheckedAtEveryKeyRelease) {
    f.cboConn.SetListIndex(0);
    for (const char* bad : {"", "0", "x12", "-5"}) {
        Type(bad);
        EXPECT_EQ(app.dialogs.shown.back().text, "The Host Port must be greater than 0.") << bad;
        EXPECT_EQ(app.dialogs.shown.back().icon, MsgIcon::Information);
        EXPECT_EQ(f.txtHostPort.Text(), "50000");  // the port of the last load or save
    }
    for (const char* big : {"65536", "99999"}) {
        Type(big);
        EXPECT_EQ(app.dialogs.shown.back().text, "The Host Port must be less than 65536.");
    }
    const auto shown = app.dialogs.shown.size();
    Type("65535");
    Type("1");
    EXPECT_EQ(app.dialogs.shown.size(), shown);
    EXPECT_EQ(app.sockets.Element(0).LocalPort(), 1);
    EXPECT_EQ(app.sockets.Element(0).State(), sckClosed);
}

TEST_F(Status, RefreshLocksWhileOnLineFlagIsSetEvenOffLine) {
    f.cboConn.SetListIndex(0);
    f.OnLine = true;
    f.chkCtrlPTT.SetBackColor(kColourRed);
    RefreshControlState(f);
    EXPECT_FALSE(f.cboComPort.Enabled());
    EXPECT_TRUE(f.cboConn.Enabled());
    EXPECT_EQ(f.cboConn.Text(), "Listen");
    EXPECT_EQ(f.chkCtrlPTT.BackColor(), kColourButtonFace);
    EXPECT_EQ(f.txtHostName.Text(), "simhost");
}

// The picture after each tick, with the interval that follows it.
std::string Ticks(SimApp& app, int n) {
    std::string seen;
    for (int i = 0; i < n; ++i) {
        tmrPicture_Timer(app.f);
        seen += app.f.imgConn.Picture() + "@" + std::to_string(app.f.tmrPicture.Interval()) + " ";
    }
    return seen;
}

TEST(StatusPicture, SequencesFollowTheListenerAndTheText) {
    SimApp app;
    app.Load();
    EXPECT_EQ(Ticks(app, 6),
              "initial@500 wifi_listen1@500 wifi_listen2@500 wifi_listen3@500 wifi_listen4@500 wifi_listen1@500 ");
    app.f.cboConn.SetText("on-line");  // any letter case
    EXPECT_EQ(Ticks(app, 8),
              "wifi_listen2@75 wifi_listen3@75 wifi_listen4@75 wifi_online1@75 wifi_online2@75 wifi_online3@75 "
              "wifi_online4@75 wifi_listen1@75 ");
    Ticks(app, 5);  // frame 6
    app.f.cboConn.SetText("Listen");
    EXPECT_EQ(Ticks(app, 2), "wifi_online2@500 wifi_listen1@500 ");  // no picture, then wrap
    app.sockets.Element(0).state = sckClosed;
    EXPECT_EQ(Ticks(app, 1), "wifi_off@500 ");
    EXPECT_EQ(app.f.IconFrame, 2);
    EXPECT_TRUE(app.f.imgConn.Visible());
}

TEST(StatusPicture, TickStopsTheAnswerTimerOnlyWhenNobodyHoldsThePort) {
    SimApp app;
    app.f.tmrActivePort.Start();
    app.f.ActivePort = 2;
    tmrPicture_Timer(app.f);
    EXPECT_TRUE(app.f.tmrActivePort.Enabled());
    app.f.ActivePort = 0;
    tmrPicture_Timer(app.f);
    EXPECT_FALSE(app.f.tmrActivePort.Enabled());
}

}  // namespace
}  // namespace ovrin
