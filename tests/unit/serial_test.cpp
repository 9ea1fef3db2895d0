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

// A listening server with one client in slot 1 and the radio's port open at
// 9600,n,8,2: a character takes 1.15 ms, a block ends after 2 ms of quiet (3 once
// it comes in pieces).
struct Served {
    SimApp app;
    frmMain& f = app.f;
    Served() {
        app.Load();
        EXPECT_TRUE(app.sockets.RequestConnection("198.51.100.1"));
        app.com.writes.clear();
    }
    void Bridge(int clients) {
        f.chkBridge.SetValue(1);
        for (int i = 1; i < clients; ++i) EXPECT_TRUE(app.sockets.RequestConnection());
    }
    void Send(int16_t i, const Bytes& data) { app.sockets.ClientSends(i, data); }
    // A block from the radio, then a quiet line.
    void Radio(const Bytes& data) {
        app.com.RadioSends(data);
        app.clock.Advance(50);
    }
    // The bytes as a line brings them: `burst` at a time, `ms` apart.
    void Paced(const Bytes& data, int ms = 1, std::size_t burst = 1) {
        for (std::size_t at = 0; at < data.size(); at += burst) {
            app.com.RadioSends(data.substr(at, burst));
            app.clock.Advance(ms);
        }
    }
    const std::vector<Bytes>& Got(int16_t i) { return app.Client(i).sentBlocks; }
};
struct OnLine : ::testing::Test, Served {};
using Blocks = std::vector<Bytes>;

TEST(RadioBlocks, TheEchoIsDroppedAloneOrAheadOfTheAnswer) {
    const struct {
        Blocks radio, delivered;
        int16_t activeAfter;
    } rows[] = {
        {{"FA;"}, {}, 1},  // the echo alone keeps the turn
        {{"FA;", "FA00014074000;"}, {"FA00014074000;"}, 0},
        {{"FA;FA00014074000;"}, {"FA00014074000;"}, 0},
        {{"FA"}, {"FA"}, 0},
        {{"?FA;"}, {"?FA;"}, 0},
    };
    for (const auto& row : rows) {
        Served s;
        s.Send(1, "FA;");
        for (const Bytes& block : row.radio) s.Radio(block);
        EXPECT_EQ(s.Got(1), row.delivered) << row.radio.back();
        EXPECT_EQ(s.f.ActivePort, row.activeAfter) << row.radio.back();
    }
}

// The quiet gap is two character times to the millisecond (at least 1 ms), three
// once a block comes in pieces, plus what the device holds back; a paced answer
// goes on whole once it has passed.
TEST(RadioBlocks, PacedAnswersGoOnWholeAfterTheGapOfTheirLine) {
    const Bytes answer = "IF00014074000     +000000000020000000;";
    const struct {
        const char* line;
        int32_t latencyMs;
        int gap, pacedGap, msApart;
        std::size_t burst, length;  // within the 50 ms a block may grow
    } rows[] = {
        {"9600,n,8,2", 0, 2, 3, 1, 1, 38},  {"4800,n,8,2", 0, 5, 7, 2, 1, 20},  {"1200,e,7,1", 0, 17, 25, 8, 1, 6},
        {"300,o,8,2", 0, 80, 120, 40, 1, 1}, {"57600,n,8,1", 0, 1, 1, 0, 38, 38},
        {"9600,n,8,1", 17, 19, 20, 16, 14, 38},  // a USB adapter hands on 14 bytes every 16 ms
    };
    for (const auto& row : rows) {
        EXPECT_EQ(RadioQuietGapMs(row.line, row.latencyMs, false), row.gap) << row.line;
        EXPECT_EQ(RadioQuietGapMs(row.line, row.latencyMs, true), row.pacedGap) << row.line;
        Served s;
        s.app.com.SetSettings(row.line);
        s.app.com.latencyMs = row.latencyMs;
        s.Send(1, "IF;");
        s.Paced(answer.substr(0, row.length), row.msApart, row.burst);
        EXPECT_TRUE(s.Got(1).empty()) << row.line;
        s.app.clock.Advance(120);
        EXPECT_EQ(s.Got(1), Blocks{answer.substr(0, row.length)}) << row.line;
    }
    Served s;  // the radio's side held up for a character in the middle of an answer
    s.Send(1, "IF;");
    s.Paced(answer.substr(0, 10));
    s.app.clock.Advance(1);
    s.Paced(answer.substr(10));
    s.app.clock.Advance(50);
    EXPECT_EQ(s.Got(1), Blocks{answer});
}

TEST_F(OnLine, TurnsPassByLowestSlotOnlyOnceEachAnswerIsComplete) {
    Bridge(4);
    Send(1, "A;");
    Send(4, "D;");
    Send(2, "B1;");
    Send(2, "B2;");  // replaces the block parked before
    Send(3, "C;");
    EXPECT_EQ(app.com.Written(), "A;");
    for (const char* answer : {"A0000;", "B0000;", "C0000;", "D0000;"}) {
        const std::size_t written = app.com.writes.size();
        Paced(answer);
        EXPECT_EQ(app.com.writes.size(), written) << "the turn passed within " << answer;
        app.clock.Advance(50);
    }
    EXPECT_EQ(app.com.Written(), "A;B2;C;D;");
    for (int16_t i = 1; i <= 4; ++i) EXPECT_EQ(Got(i), Blocks{Bytes(1, static_cast<char>('A' + i - 1)) + "0000;"});
    EXPECT_EQ(f.ActivePort, 0);
}

TEST_F(OnLine, UnaskedOutputReachesTheClientBeforeAndAfterItsCommands) {
    Radio("FA00014074000;");
    Send(1, "ID;");
    Radio("ID019;");
    Radio("FA00007074000;");
    app.com.RadioSends("PS1;", false);  // no arrival event: the tick starts its block
    app.clock.Advance(60);
    EXPECT_EQ(Got(1), (Blocks{"FA00014074000;", "ID019;", "FA00007074000;", "PS1;"}));
}

TEST_F(OnLine, RadioThatNeverStopsGoesOnInPiecesOfFiftyMilliseconds) {
    Bridge(2);
    Send(1, "AI2;");
    Send(2, "ID;");
    const Bytes talk(4000, 'x');
    Paced(talk.substr(0, 2999));
    EXPECT_EQ(app.com.Written(), "AI2;");  // no piece ends the turn while the radio talks
    Paced(talk.substr(2999));
    EXPECT_EQ(app.com.Written(), "AI2;ID;");  // the answer time-out did
    app.clock.Advance(50);
    Blocks pieces = Got(1);
    pieces.insert(pieces.end(), Got(2).begin(), Got(2).end());
    std::size_t total = 0;
    for (const Bytes& piece : pieces) {
        EXPECT_LE(piece.size(), 50u);
        total += piece.size();
    }
    EXPECT_EQ(total, talk.size());
}

TEST(RadioBlocks, AnswersForAConnectionThatLeftNeverReachTheOneInItsSlot) {
    for (const int clients : {1, 2}) {
        Served s;
        if (clients > 1) s.Bridge(clients);
        s.Send(1, "FA;");
        s.app.sockets.PeerCloses(1);
        ASSERT_TRUE(s.app.sockets.RequestConnection());
        s.Radio("FA00014074000;");  // late, for the one that left
        s.Send(1, "ID;");
        s.Radio("ID019;");
        EXPECT_EQ(s.Got(1), Blocks{"ID019;"}) << clients << " clients";
    }
    Served s;  // nor is a block that the one who left had parked written for its successor
    s.Bridge(2);
    s.Send(1, "FA;");
    s.Send(2, "MD;");
    s.app.sockets.PeerCloses(2);
    ASSERT_TRUE(s.app.sockets.RequestConnection());
    s.Radio("FA00014074000;");
    EXPECT_EQ(s.app.com.Written(), "FA;");
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
    app.com.RadioSends("a");  // late: still arriving when the turn passes
    app.clock.Advance(1);
    EXPECT_EQ(f.ActivePort, 2);
    EXPECT_EQ(app.com.Written(), "A;A2;B;");
    EXPECT_EQ(app.Client(1).sent, "a");
    // Nothing parked at the next time-out: the turn lapses, the next picture tick stops the timer.
    app.clock.Advance(3000);
    EXPECT_EQ(f.ActivePort, 0);
    app.clock.Advance(75);
    EXPECT_FALSE(f.tmrActivePort.Enabled());
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
