// The serial port as the window opens it, and the radio's data path: framing by a
// quiet line, the echo filter, turn-taking between clients, routing by connection.
#include <gtest/gtest.h>

#include "net/Inbound.h"
#include "serial/Receive.h"
#include "serial/SerialPort.h"
#include "sim/SimPlatform.h"

namespace ovrin {
namespace {

using sim::SimApp;
using Blocks = std::vector<Bytes>;

TEST(OpenComPort, OpensWithTheWindowSettingsAndKeepsAnOpenPort) {
    SimApp app;
    app.com.existing = {3};
    app.f.cboComPort.SetText(" com3 ");
    app.f.cboParity.SetText("Odd");
    app.f.chkDTR.SetValue(1);
    app.f.cboConn.SetText("Listen");  // no check-box rules outside Off-line
    app.f.chkRTS.SetValue(1);
    app.f.chkCtrlPTT.SetValue(1);
    bool failed = true;
    OpenComPort(app.f, failed);
    ASSERT_FALSE(failed);
    EXPECT_EQ(app.com.CommPort(), 3);
    EXPECT_EQ(app.com.Settings(), "9600,o,8,2");
    EXPECT_TRUE(app.com.DTREnable());
    EXPECT_FALSE(app.com.RTSEnable());  // never raised while the client may key it
    OpenComPort(app.f, failed);
    EXPECT_EQ(app.com.opens, 1);
}

TEST(CheckBoxRules, RtsAndItsControlExcludeEachOtherOnlyWhileOffLine) {
    SimApp app;
    auto& f = app.f;
    f.cboConn.SetListIndex(0);
    f.chkCtrlPTT.SetValue(1);
    f.chkComPortActiveInListen.SetValue(1);  // checks RTS, whose rule clears RTS control
    EXPECT_EQ(f.chkRTS.Value() * 10 + f.chkCtrlPTT.Value(), 10);
    f.chkCtrlPTT.SetValue(1);
    EXPECT_EQ(f.chkRTS.Value() * 10 + f.chkComPortActiveInListen.Value(), 0);
    f.cboConn.SetText("Listen");
    f.chkComPortActiveInListen.SetValue(1);
    EXPECT_EQ(f.chkCtrlPTT.Value(), 1);
}

// A listening server with one client in slot 1 and the radio's port open at
// 9600,n,8,2: a character takes 1.15 ms, a block ends after 2 ms of quiet (3 once
// it comes in pieces).
struct Served {
    SimApp app;
    frmMain& f = app.f;
    Served() {
        app.Load();
        EXPECT_TRUE(app.sockets.RequestConnection());
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
    const Blocks& Got(int16_t i) { return app.Client(i).sentBlocks; }
};

TEST(RadioBlocks, TheEchoOfTheLastBlockIsDroppedAloneOrAheadOfTheAnswer) {
    const struct {
        Blocks client, radio, delivered;
        int16_t activeAfter;
    } rows[] = {
        {{"FA;"}, {"FA;"}, {}, 1},  // the echo alone keeps the turn
        {{"FA;"}, {"FA;", "FA00014074000;"}, {"FA00014074000;"}, 0},
        {{"FA;"}, {"FA;FA00014074000;"}, {"FA00014074000;"}, 0},
        {{"FA;"}, {"FA"}, {"FA"}, 0},
        {{"FA;"}, {"?FA;"}, {"?FA;"}, 0},
        {{"FA;", "\x1B\x1B" "ATH1"}, {"FA;"}, {"FA;"}, 0},  // a PTT command was the last block
    };
    for (const auto& row : rows) {
        Served s;
        s.f.chkCtrlPTT.SetValue(1);
        for (const Bytes& block : row.client) s.Send(1, block);
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

// Parked blocks go by lowest slot, a later one replacing the earlier, each once the
// answer before it is complete; each one written becomes the echo to drop.
TEST(RadioBlocks, TurnsPassByLowestSlotOnlyOnceEachAnswerIsComplete) {
    Served s;
    s.Bridge(4);
    s.Send(1, "A;");
    s.Send(4, "D;");
    s.Send(2, "B1;");
    s.Send(2, "B2;");
    s.Send(3, "C;");
    for (const char* answer : {"A0000;", "B2;B0000;", "C;C0000;", "D;D0000;"}) {
        const std::size_t written = s.app.com.writes.size();
        s.Paced(answer);
        EXPECT_EQ(s.app.com.writes.size(), written) << "the turn passed within " << answer;
        s.app.clock.Advance(50);
    }
    EXPECT_EQ(s.app.com.Written(), "A;B2;C;D;");
    for (int16_t i = 1; i <= 4; ++i) EXPECT_EQ(s.Got(i), Blocks{Bytes(1, static_cast<char>('A' + i - 1)) + "0000;"});
    EXPECT_EQ(s.f.ActivePort, 0);
}

// The holder sending again does not restart its 3000 ms; bytes still arriving when
// the turn passes are its own; with nothing parked the turn lapses.
TEST(RadioBlocks, AnswerTimeOutPassesTheTurnWithoutExtendingIt) {
    Served s;
    s.Bridge(2);
    s.Send(1, "A;");
    s.app.clock.Advance(2000);
    s.Send(1, "A2;");
    s.Send(2, "B;");
    s.app.clock.Advance(999);
    s.app.com.RadioSends("a");
    s.app.clock.Advance(1);
    EXPECT_EQ(s.f.ActivePort, 2);
    EXPECT_EQ(s.app.com.Written(), "A;A2;B;");
    EXPECT_EQ(s.app.Client(1).sent, "a");
    s.app.clock.Advance(3000);
    EXPECT_EQ(s.f.ActivePort, 0);
    s.app.clock.Advance(500);
    EXPECT_FALSE(s.f.tmrActivePort.Enabled());
}

TEST(RadioBlocks, UnaskedOutputReachesTheClientBeforeAndAfterItsCommands) {
    Served s;
    s.Radio("FA00014074000;");
    s.Send(1, "ID;");
    s.Radio("ID019;");
    s.Radio("FA00007074000;");
    s.app.com.RadioSends("PS1;", false);  // no arrival event: the tick starts its block
    s.app.clock.Advance(60);
    EXPECT_EQ(s.Got(1), (Blocks{"FA00014074000;", "ID019;", "FA00007074000;", "PS1;"}));
}

TEST(RadioBlocks, ARadioThatNeverStopsGoesOnInPiecesOfFiftyMillisecondsToOneClient) {
    Served s;
    s.Bridge(2);
    s.Send(1, "AI2;");
    s.Send(2, "ID;");
    const Bytes talk(4000, 'x');
    s.Paced(talk.substr(0, 2999));
    EXPECT_EQ(s.app.com.Written(), "AI2;");  // no piece ends the turn while the radio talks
    s.Paced(talk.substr(2999));
    EXPECT_EQ(s.app.com.Written(), "AI2;ID;");  // the answer time-out did
    s.app.clock.Advance(50);
    Blocks pieces = s.Got(1);
    pieces.insert(pieces.end(), s.Got(2).begin(), s.Got(2).end());
    std::size_t total = 0;
    for (const Bytes& piece : pieces) {
        EXPECT_LE(piece.size(), 50u);
        total += piece.size();
    }
    EXPECT_EQ(total, talk.size());
}

TEST(RadioBlocks, NothingForAConnectionThatLeftReachesTheOneInItsSlot) {
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

TEST(ClientBlocks, AFailedReadSendsNothingAndAFullSerialBacklogPausesReading) {
    Served s;
    s.Send(1, "MD;");
    s.app.Client(1).failRead = true;
    s.Send(1, "X;");  // the previous block is never sent again
    s.app.Client(1).failRead = false;
    s.app.Client(1).rx.clear();
    s.app.com.backlog = kMaxSerialBacklog;
    s.Send(1, "FA;");
    s.Send(1, "FB;");  // stays in the socket, behind the first
    s.app.clock.Advance(50);
    EXPECT_EQ(s.app.com.writes, Blocks{"MD;"});
    s.app.com.LineDrains();  // read at once, not at the next tick
    EXPECT_EQ(s.app.com.writes, (Blocks{"MD;", "FA;FB;"}));
}

}  // namespace
}  // namespace ovrin
