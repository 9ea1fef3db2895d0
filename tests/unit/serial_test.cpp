#include <gtest/gtest.h>

#include "serial/Ptt.h"
#include "serial/Receive.h"
#include "serial/SerialPort.h"
#include "sim/SimPlatform.h"

namespace ovrin {
namespace {

using sim::SimApp;

TEST(SerialSettings, PortTextAndParityRules) {
    EXPECT_EQ(PortNumber("COM3"), 3);
    EXPECT_EQ(PortNumber("com3"), 3);
    EXPECT_EQ(PortNumber("  COM12 "), 12);
    EXPECT_EQ(PortNumber("XYZ7"), 7);
    EXPECT_EQ(PortNumber("COM17"), 17);
    EXPECT_THROW(PortNumber("COM"), PlatformError);
    EXPECT_THROW(PortNumber("COMX"), PlatformError);
    EXPECT_EQ(ParityLetter("none") + ParityLetter("NONE") + ParityLetter("Even") + ParityLetter("odd"), "nneo");
    EXPECT_EQ(ParityLetter(" None"), "");
    SimApp app;
    EXPECT_EQ(LineSettingsText(app.f), "9600,n,8,2");
    app.f.cboBaud.SetText(" 4800 ");
    app.f.cboParity.SetText("Odd");
    app.f.cboBits.SetText("7");
    app.f.cboStop.SetText("1");
    EXPECT_EQ(LineSettingsText(app.f), "4800,o,7,1");
    app.f.cboParity.SetText("Mark");
    EXPECT_EQ(LineSettingsText(app.f), "4800,,7,1");
}

TEST(OpenComPort, OpensWithTheWindowSettingsAndLines) {
    SimApp app;
    app.com.existing = {3};
    app.f.cboComPort.SetText("com3");
    app.f.chkRTS.SetValue(0);
    bool failed = true;
    OpenComPort(app.f, failed);
    EXPECT_FALSE(failed);
    EXPECT_TRUE(app.com.PortOpen());
    EXPECT_EQ(app.com.CommPort(), 3);
    EXPECT_EQ(app.com.Settings(), "9600,n,8,2");
    EXPECT_TRUE(app.com.DTREnable());
    EXPECT_FALSE(app.com.RTSEnable());
    OpenComPort(app.f, failed);  // an open port is kept
    EXPECT_FALSE(failed);
    EXPECT_EQ(app.com.opens, 1);
    CloseComPort(app.f);
    CloseComPort(app.f);
    EXPECT_FALSE(app.com.PortOpen());
}

TEST(OpenComPort, FailuresLeaveThePortClosed) {
    SimApp app;
    bool failed = false;
    app.f.cboComPort.SetText("COM7");  // no such port: fails at the last step
    OpenComPort(app.f, failed);
    EXPECT_TRUE(failed);
    EXPECT_FALSE(app.com.PortOpen());
    EXPECT_EQ(app.com.CommPort(), 7);
    EXPECT_EQ(app.com.Settings(), "9600,n,8,2");

    app.f.cboComPort.SetText("COM1");
    app.f.cboParity.SetText("Space!");
    OpenComPort(app.f, failed);
    EXPECT_TRUE(failed);
    app.f.cboParity.SetText("None");
    app.com.failLines = true;
    OpenComPort(app.f, failed);
    EXPECT_TRUE(failed);
    EXPECT_FALSE(app.com.PortOpen());
}

TEST(CheckBoxRules, CascadeOnlyWhileOffLine) {
    SimApp app;
    auto& f = app.f;
    f.cboConn.SetListIndex(0);
    f.chkCtrlPTT.SetValue(1);
    EXPECT_EQ(f.chkRTS.Value(), 0);
    EXPECT_EQ(f.chkComPortActiveInListen.Value(), 0);
    f.chkComPortActiveInListen.SetValue(1);  // checks RTS, whose rule clears PTT
    EXPECT_EQ(f.chkRTS.Value(), 1);
    EXPECT_EQ(f.chkCtrlPTT.Value(), 0);
    f.chkRTS.SetValue(0);  // unchecking changes nothing else
    EXPECT_EQ(f.chkComPortActiveInListen.Value(), 1);

    f.cboConn.SetText("Listen");
    f.chkCtrlPTT.SetValue(1);
    EXPECT_EQ(f.chkComPortActiveInListen.Value(), 1);
}

// A listening server with one client in slot 1 and the radio's port open.
struct OnLine : ::testing::Test {
    SimApp app;
    frmMain& f = app.f;
    void SetUp() override {
        app.Load();
        ASSERT_TRUE(app.sockets.RequestConnection("198.51.100.1"));
        app.com.writes.clear();
    }
    void Bridge(int clients) {
        f.chkBridge.SetValue(1);
        for (int i = 1; i < clients; ++i) ASSERT_TRUE(app.sockets.RequestConnection());
    }
    void Send(int16_t i, const Bytes& data) { app.sockets.ClientSends(i, data); }
    void Radio(const Bytes& data) {
        app.com.RadioSends(data);
        app.clock.Advance(50);
    }
};

TEST_F(OnLine, EchoInOneTickIsDroppedAndTheAnswerEndsTheTurn) {
    Send(1, "FA;");
    EXPECT_EQ(app.com.Written(), "FA;");
    Radio("FA;");
    EXPECT_EQ(app.Client(1).sent, "");
    EXPECT_EQ(f.ActivePort, 1);
    Radio("FA00014074000;");
    EXPECT_EQ(app.Client(1).sent, "FA00014074000;");
    EXPECT_EQ(f.ActivePort, 0);
    Send(1, "ID;");
    Radio("ID;ID019;");  // echo and answer in one tick pass whole
    EXPECT_EQ(app.Client(1).sent, "FA00014074000;ID;ID019;");
}

TEST_F(OnLine, SplitEchoIsForwardedAndTheRestDiscarded) {
    Send(1, "FA;");
    Radio("FA");
    EXPECT_EQ(app.Client(1).sent, "FA");
    Radio(";");
    EXPECT_EQ(app.Client(1).sent, "FA");
}

TEST_F(OnLine, TurnsGoByLowestSlotAndALaterBlockReplacesTheParkedOne) {
    Bridge(4);
    Send(1, "A;");
    Send(4, "D;");
    Send(2, "B1;");
    Send(2, "B2;");
    Send(3, "C;");
    EXPECT_EQ(app.com.Written(), "A;");
    Radio("a");
    EXPECT_EQ(app.com.Written(), "A;B2;");
    Radio("b");
    Radio("c");
    Radio("d");
    EXPECT_EQ(app.com.Written(), "A;B2;C;D;");
    EXPECT_EQ(app.Client(1).sent + app.Client(2).sent + app.Client(3).sent + app.Client(4).sent, "abcd");
    EXPECT_EQ(f.ActivePort, 0);
}

TEST_F(OnLine, ParkedBlockReplacesTheEchoReference) {
    Bridge(2);
    Send(1, "FA;");
    Send(2, "MD;");
    Radio("FA;");  // no longer recognised as the echo
    EXPECT_EQ(app.Client(1).sent, "FA;");
    EXPECT_EQ(app.com.Written(), "FA;MD;");
    EXPECT_EQ(f.ActivePort, 2);
}

TEST_F(OnLine, AnswerTimeOutPassesTheTurnWithoutExtendingIt) {
    Bridge(2);
    Send(1, "A;");
    app.clock.Advance(2000);
    Send(1, "A2;");  // the holder sending again does not restart its 3000 ms
    Send(2, "B;");
    app.clock.Advance(999);
    EXPECT_EQ(f.ActivePort, 1);
    app.clock.Advance(1);
    EXPECT_EQ(f.ActivePort, 2);
    EXPECT_EQ(app.com.Written(), "A;A2;B;");
    EXPECT_EQ(app.Client(1).sent, "");
    // Nothing parked at the next time-out: the turn lapses, the next picture tick stops the timer.
    app.clock.Advance(3000);
    EXPECT_EQ(f.ActivePort, 0);
    app.clock.Advance(75);
    EXPECT_FALSE(f.tmrActivePort.Enabled());
}

TEST_F(OnLine, RadioDataWithNobodyWaitingIsDiscarded) {
    Radio("noise");
    EXPECT_EQ(app.Client(1).sent, "");
    EXPECT_TRUE(app.com.writes.empty());
}

TEST_F(OnLine, KeyedPttDropsBetweenTenAndTenPointZeroFiveSeconds) {
    f.chkCtrlPTT.SetValue(1);
    KeyPTT(f);
    EXPECT_TRUE(app.com.RTSEnable());
    EXPECT_EQ(f.chkCtrlPTT.BackColor(), kColourRed);
    app.clock.Advance(5000);
    KeyPTT(f);  // a repeat restarts the period
    app.clock.Advance(9999);
    EXPECT_TRUE(app.com.RTSEnable());
    app.clock.Advance(1);
    EXPECT_TRUE(f.PTTExpired);
    app.clock.Advance(50);
    EXPECT_FALSE(app.com.RTSEnable());
    EXPECT_EQ(f.chkCtrlPTT.BackColor(), kColourButtonFace);
    EXPECT_FALSE(f.tmrPTT.Enabled());
}

TEST_F(OnLine, ReleaseWhileNotKeyedIsHarmless) {
    ReleasePTT(f);
    EXPECT_FALSE(app.com.RTSEnable());
    EXPECT_TRUE(f.PTTExpired);
    EXPECT_EQ(f.chkCtrlPTT.BackColor(), kColourButtonFace);
    app.com.SetPortOpen(false);
    KeyPTT(f);  // a closed port still arms the watchdog and the indicator
    EXPECT_TRUE(f.tmrPTT.Enabled());
    EXPECT_EQ(f.chkCtrlPTT.BackColor(), kColourRed);
}

}  // namespace
}  // namespace ovrin
