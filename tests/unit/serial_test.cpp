// The serial port as the window opens it, and the radio's data path: framing by a
// quiet line, the echo filter, turn-taking between clients, routing by connection.
// Served at 9600,n,8,2: a character takes 1.15 ms, a block ends after 2 ms of quiet
// (3 once it comes in pieces).
#include <gtest/gtest.h>

#include "net/Inbound.h"
#include "serial/Receive.h"
#include "serial/SerialPort.h"
#include "sim/SimPlatform.h"

namespace ovrin {
namespace {

using sim::SimApp;
using Blocks = std::vector<Bytes>;

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
    f.cboConn.SetText("Listen");
    f.chkRTS.SetValue(1);
    EXPECT_EQ(f.chkCtrlPTT.Value(), 1);
    app.com.existing = {3};
    f.cboComPort.SetText(" com3 ");
    f.cboParity.SetText("Odd");
    bool failed = true;
    OpenComPort(f, failed);
    EXPECT_FALSE(failed);
    EXPECT_EQ(app.com.CommPort(), 3);
    EXPECT_EQ(app.com.Settings(), "9600,o,8,2");
    EXPECT_FALSE(app.com.RTSEnable());
    OpenComPort(f, failed);
    EXPECT_EQ(app.com.opens, 1);
}

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
        SimApp app;
        app.Serve();
        app.f.chkCtrlPTT.SetValue(1);
        for (const Bytes& block : row.client) app.Send(1, block);
        for (const Bytes& block : row.radio) app.Radio(block);
        EXPECT_EQ(app.Client(1).sentBlocks, row.delivered) << row.radio.back();
        EXPECT_EQ(app.f.ActivePort, row.activeAfter) << row.radio.back();
    }
}

// The quiet gap is two character times to the millisecond (at least 1 ms), three
// once a block comes in pieces, plus what the device holds back; a paced answer
// goes on whole once it has passed, even with the radio held up in the middle.
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
        SimApp app;
        app.Serve();
        app.com.SetSettings(row.line);
        app.com.latencyMs = row.latencyMs;
        app.Send(1, "IF;");
        app.Paced(answer.substr(0, row.length), row.msApart, row.burst);
        EXPECT_TRUE(app.Client(1).sentBlocks.empty()) << row.line;
        app.clock.Advance(120);
        EXPECT_EQ(app.Client(1).sentBlocks, Blocks{answer.substr(0, row.length)}) << row.line;
    }
    SimApp app;
    app.Serve();
    app.Send(1, "IF;");
    app.Paced(answer.substr(0, 10));
    app.clock.Advance(1);
    app.Paced(answer.substr(10));
    app.clock.Advance(50);
    EXPECT_EQ(app.Client(1).sentBlocks, Blocks{answer});
}

// Parked blocks go by lowest slot, a later one replacing the earlier, each once the
// answer before it is complete; each one written becomes the echo to drop.
TEST(RadioBlocks, TurnsPassByLowestSlotOnlyOnceEachAnswerIsComplete) {
    SimApp app;
    app.Serve(4);
    for (const auto& [i, block] : {std::pair{1, "A;"}, {4, "D;"}, {2, "B1;"}, {2, "B2;"}, {3, "C;"}})
        app.Send(static_cast<int16_t>(i), block);
    for (const char* answer : {"A0000;", "B2;B0000;", "C;C0000;", "D;D0000;"}) {
        const std::size_t written = app.com.writes.size();
        app.Paced(answer);
        EXPECT_EQ(app.com.writes.size(), written) << "the turn passed within " << answer;
        app.clock.Advance(50);
    }
    EXPECT_EQ(app.com.Written(), "A;B2;C;D;");
    for (int16_t i = 1; i <= 4; ++i) EXPECT_EQ(app.Client(i).sent, Bytes(1, static_cast<char>('A' + i - 1)) + "0000;");
}

// The holder sending again does not restart its 3000 ms; bytes still arriving when
// the turn passes are its own; with nothing parked the turn lapses.
TEST(RadioBlocks, AnswerTimeOutPassesTheTurnWithoutExtendingIt) {
    SimApp app;
    app.Serve(2);
    app.Send(1, "A;");
    app.clock.Advance(2000);
    app.Send(1, "A2;");
    app.Send(2, "B;");
    app.clock.Advance(999);
    app.com.RadioSends("a");
    app.clock.Advance(1);
    EXPECT_EQ(app.com.Written(), "A;A2;B;");
    EXPECT_EQ(app.Client(1).sent, "a");
    app.clock.Advance(3000);
    EXPECT_EQ(app.f.ActivePort, 0);
}

TEST(RadioBlocks, UnaskedOutputReachesTheClientBeforeAndAfterItsCommands) {
    SimApp app;
    app.Serve();
    app.Radio("FA00014074000;");
    app.Send(1, "ID;");
    app.Radio("ID019;");
    app.Radio("FA00007074000;");
    app.com.RadioSends("PS1;", false);  // no arrival event: the tick starts its block
    app.clock.Advance(60);
    EXPECT_EQ(app.Client(1).sentBlocks, (Blocks{"FA00014074000;", "ID019;", "FA00007074000;", "PS1;"}));
}

TEST(RadioBlocks, ARadioThatNeverStopsGoesOnInPiecesOfFiftyMillisecondsToOneClient) {
    SimApp app;
    app.Serve(2);
    app.Send(1, "AI2;");
    app.Send(2, "ID;");
    const Bytes talk(4000, 'x');
    app.Paced(talk.substr(0, 2999));
    EXPECT_EQ(app.com.Written(), "AI2;");  // no piece ends the turn while the radio talks
    app.Paced(talk.substr(2999));
    EXPECT_EQ(app.com.Written(), "AI2;ID;");  // the answer time-out did
    app.clock.Advance(50);
    Blocks pieces = app.Client(1).sentBlocks;
    pieces.insert(pieces.end(), app.Client(2).sentBlocks.begin(), app.Client(2).sentBlocks.end());
    std::size_t total = 0;  // of the pieces of 50 bytes at most: all of it
    for (const Bytes& piece : pieces) total += piece.size() <= 50 ? piece.size() : 0;
    EXPECT_EQ(total, talk.size());
}

// Neither a late answer nor a parked block of a client that left reaches the new
// client in its slot.
TEST(RadioBlocks, NothingForAConnectionThatLeftReachesTheOneInItsSlot) {
    for (const int16_t clients : {int16_t{1}, int16_t{2}}) {
        SimApp app;
        app.Serve(clients);
        app.Send(1, "FA;");
        app.Send(clients, "MD;");
        app.sockets.PeerCloses(clients);
        ASSERT_TRUE(app.sockets.RequestConnection());
        app.Radio("FA00014074000;");
        app.Send(clients, "ID;");
        app.Radio("ID019;");
        EXPECT_EQ(app.Client(clients).sent, "ID019;") << clients;
        EXPECT_EQ(app.com.Written(), clients == 1 ? "FA;MD;ID;" : "FA;ID;") << clients;
    }
}

TEST(ClientBlocks, AFailedReadSendsNothingAndAFullSerialBacklogPausesReading) {
    SimApp app;
    app.Serve();
    app.Send(1, "MD;");
    app.Client(1).failRead = true;
    app.Send(1, "X;");  // the previous block is never sent again
    app.Client(1).failRead = false;
    app.Client(1).rx.clear();
    app.com.backlog = kMaxSerialBacklog;
    app.Send(1, "FA;");
    app.Send(1, "FB;");  // stays in the socket, behind the first
    app.clock.Advance(50);
    EXPECT_EQ(app.com.writes, Blocks{"MD;"});
    app.com.LineDrains();  // read at once, not at the next tick
    EXPECT_EQ(app.com.writes, (Blocks{"MD;", "FA;FB;"}));
}

}  // namespace
}  // namespace ovrin
