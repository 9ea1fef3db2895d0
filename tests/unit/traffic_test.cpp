// The traffic between the clients and the radio: client blocks submitted for a
// turn, radio blocks framed by a quiet line, the echo filter, turn-taking between
// clients, routing by connection. Served at 9600,n,8,2: a character takes 1.15 ms,
// a block ends after 2 ms of quiet (3 once it comes in pieces).
#include <gtest/gtest.h>

#include <functional>

#include "line/Framing.h"
#include "model/Outbound.h"
#include "net/ComPortClient.h"
#include "net/Inbound.h"
#include "serial/SerialPort.h"
#include "sim/SimPlatform.h"

namespace ovrin {
namespace {

using sim::SimApp;
using S = SimApp;
const Bytes kFa = "FA00014074000;";

// Clients in no known command language: the turns frame the radio's bytes by the line.
struct Plain : SimApp {
    Plain() { f.station.settings.options.cat = cat::Language::None; }
};
using Blocks = std::vector<Bytes>;

TEST(RadioBlocks, TheEchoOfTheTurnsWritesIsDroppedAloneOrAheadOfTheAnswer) {
    const struct {
        Blocks client, radio, delivered;
        bool turnOpen;
    } rows[] = {
        {{"FA;"}, {"FA;"}, {}, true},  // the echo alone keeps the turn
        {{"FA;"}, {"FA;", "FA00014074000;"}, {"FA00014074000;"}, false},
        {{"FA;"}, {"FA;FA00014074000;"}, {"FA00014074000;"}, false},
        {{"FA;"}, {"FA"}, {"FA"}, false},  // short of the echo on a quiet line: an answer
        {{"FA;"}, {"?FA;"}, {"?FA;"}, false},
        {{"FA;", "\x1B\x1B" "ATH1"}, {"FA;"}, {}, true},  // a PTT command is never written, nor echoed
        {{"FA;", "IF;"}, {"FA;IF;", "FA1;IF2;"}, {"FA1;IF2;"}, false},  // the echo of both writes
    };
    for (const auto& row : rows) {
        Plain app;
        app.Serve();
        app.f.chkCtrlPTT.SetValue(1);
        for (const Bytes& block : row.client) app.Send(1, block);
        for (const Bytes& block : row.radio) app.Radio(block);
        EXPECT_EQ(std::pair(app.Client(1).sentBlocks, app.f.station.turns.TurnOpen()), std::pair(row.delivered, row.turnOpen))
            << row.radio.back();
    }
}

// The echo belongs to its turn: cut by the block-age limit on a slow line it is
// still dropped whole, and once the turn is over the same bytes are the radio's own.
TEST(RadioBlocks, TheEchoIsDroppedWholeOnASlowLineAndExpiresWithItsTurn) {
    Plain app;
    app.Serve();
    SetPortLine(app.f.station, "1200,e,7,1");
    app.Send(1, kFa);
    app.Paced(kFa + kFa, 8);  // 112 ms of echo, then the answer
    // MD2; gets no answer: the turn ends at the answer wait, and the radio's own report later is the client's.
    app.Run({S::T(100), S::G(1, kFa), S::C(1, "MD2;"), S::T(5000), S::R("MD2;"), S::T(50), S::G(1, kFa + "MD2;")});
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
        int clients = 1;  // what the device holds back counts only when the port is shared
    } rows[] = {
        {"9600,n,8,2", 0, 2, 3, 1, 1, 38},  {"4800,n,8,2", 0, 5, 7, 2, 1, 20},  {"1200,e,7,1", 0, 17, 25, 8, 1, 6},
        {"300,o,8,2", 0, 80, 120, 40, 1, 1}, {"57600,n,8,1", 0, 1, 1, 0, 38, 38},
        {"9600,n,8,1", 17, 19, 20, 16, 14, 38, 2},  // a USB adapter hands on 14 bytes every 16 ms
    };
    for (const auto& row : rows) {
        const auto gap = [&](bool paced) { return RadioQuietGapMs(RadioCharacterMicroseconds(row.line), row.latencyMs, paced); };
        EXPECT_EQ(std::pair(gap(false), gap(true)), std::pair(row.gap, row.pacedGap)) << row.line;
        Plain app;
        app.Serve(row.clients);
        SetPortLine(app.f.station, row.line);
        app.com.latencyMs = row.latencyMs;
        app.Send(1, "IF;");
        app.Paced(answer.substr(0, row.length), row.msApart, row.burst);
        EXPECT_TRUE(app.Client(1).sentBlocks.empty()) << row.line;
        app.clock.Advance(120);
        EXPECT_EQ(app.Client(1).sentBlocks, Blocks{answer.substr(0, row.length)}) << row.line;
    }
    Plain app;
    app.Serve();
    app.Send(1, "IF;");
    app.Paced(answer.substr(0, 10));
    app.clock.Advance(1);
    app.Paced(answer.substr(10));
    app.clock.Advance(50);
    EXPECT_EQ(app.Client(1).sentBlocks, Blocks{answer});
}

// Parked blocks go in arrival order, one block per client per turn (what it sent
// meanwhile joins it), each once the answer before it is complete.
TEST(RadioBlocks, TurnsPassInArrivalOrderOnlyOnceEachAnswerIsComplete) {
    Plain app;
    app.Serve(4);
    for (const auto& [i, block] : {std::pair{1, "A;"}, {4, "D;"}, {2, "B1;"}, {2, "B2;"}, {3, "C;"}})
        app.Send(static_cast<int16_t>(i), block);
    for (const char* answer : {"A0000;", "D;D0000;", "B1;B2;B0000;", "C;C0000;"}) {
        const std::size_t written = app.com.writes.size();
        app.Paced(answer);
        EXPECT_EQ(app.com.writes.size(), written) << "the turn passed within " << answer;
        app.clock.Advance(50);
    }
    EXPECT_EQ(app.com.writes, (Blocks{"A;", "D;", "B1;B2;", "C;"}));
    for (int16_t i = 1; i <= 4; ++i) EXPECT_EQ(app.Client(i).sent, Bytes(1, static_cast<char>('A' + i - 1)) + "0000;");
}

// A command with no answer holds the port for the answer wait after it has been
// written; an answer that keeps coming, for 3000 ms at most. What the radio says
// with no turn open reaches every client.
TEST(RadioBlocks, TurnsEndAtTheAnswerWaitOrTheLimitAndUnaskedOutputReachesAll) {
    Plain app;
    app.Serve(2);
    // A set command: 16 ms on the line, no answer.
    app.Run({S::C(1, kFa), S::C(2, "FA;"), S::T(ServerOptions{}.answerWaitMs + 15), S::W(kFa), S::T(2), S::W(kFa + "FA;"),
             S::R(kFa), S::T(50), S::C(1, "AI2;"), S::C(2, "ID;")});
    app.Paced(Bytes(2999, 'x'));
    app.Run({S::W(kFa + "FA;AI2;")});
    app.Paced("x");
    app.Run({S::W(kFa + "FA;AI2;ID;"), S::R("ID019;"), S::T(50), S::R("PS1;"), S::T(50),  // PS1; unasked
             S::G(1, Bytes(3000, 'x') + "PS1;"), S::G(2, kFa + "ID019;PS1;")});
}

// What the radio says unasked reaches the client before and after its commands; a
// radio that never stops goes on in pieces of 50 ms.
TEST(RadioBlocks, UnaskedOutputReachesTheClientBeforeAndAfterItsCommands) {
    Plain app;
    app.Serve();
    app.Run({S::R(kFa), S::T(50), S::C(1, "ID;"), S::R("ID019;"), S::T(50), S::R("FA00007074000;"), S::T(50)});
    app.com.RadioSends("PS1;", false);  // no arrival event: the slow tick starts its block
    app.clock.Advance(kIdlePollMs + 10);
    EXPECT_EQ(app.Client(1).sentBlocks, (Blocks{kFa, "ID019;", "FA00007074000;", "PS1;"}));
    app.Send(1, "AI2;");
    const Bytes talk(4000, 'x');
    app.Paced(talk);
    app.clock.Advance(50);
    for (const Bytes& piece : app.Client(1).sentBlocks) EXPECT_LE(piece.size(), 50u);
    EXPECT_EQ(app.Client(1).sent, kFa + "ID019;FA00007074000;PS1;" + talk);
}

// What belongs to a connection that left (a late answer, the answer to the block
// it left parked) reaches nobody, and does not hold the port from the next client.
TEST(RadioBlocks, NothingForAConnectionThatLeftReachesTheNextClient) {
    const struct {
        const char* name;
        int clients;
        std::vector<SimApp::Step> before, after;  // around a newcomer's connection, when `after` has steps
        Bytes written, heard;
    } rows[] = {
        {"answer after it left", 1, {S::C(1, "FA;"), S::L(1)},
         {S::C(1, "ID;"), S::T(20), S::R(kFa), S::T(50), S::R("ID019;"), S::T(50)}, "FA;ID;", "ID019;"},
        {"its parked block still written", 2, {S::C(1, "FA;"), S::C(2, "MD;"), S::L(2)},
         {S::R(kFa), S::T(50), S::C(2, "ID;"), S::R("MD2;"), S::T(50), S::R("ID019;"), S::T(50)}, "FA;MD;ID;", "ID019;"},
        {"its answer paused half-way when it left", 2,  // the radio pauses: a quiet line
         {S::C(1, "FA;MD;"), S::R("FA00014074000;M"), S::T(20), S::L(1), S::C(2, "FB;"), S::R("D2;"), S::T(50),
          S::R("FB00014074000;"), S::T(50)},
         {}, "FA;MD;FB;", "FB00014074000;"},
        {"a set command unanswered, then unasked output", 1, {S::C(1, kFa), S::L(1)}, {S::T(1000), S::R("PS1;"), S::T(50)},
         kFa, "PS1;"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SimApp app;
        app.Serve(row.clients);
        app.Run(row.before);
        if (!row.after.empty()) {
            ASSERT_TRUE(app.sockets.RequestConnection());
            app.Run(row.after);
        }
        EXPECT_EQ(std::pair(app.com.Written(), app.Client(static_cast<int16_t>(row.clients)).sent), std::pair(row.written, row.heard));
        EXPECT_EQ(app.com.opens, 1);  // the port kept open is not opened again
    }
}

// A client leaves with a command the radio holds unfinished (its start went as it
// was when the rest did not come): it is ended so that the next client's command is
// not joined to it, never as a key, and what the radio says to it reaches nobody.
TEST(RadioBlocks, ADepartedClientsUnfinishedCommandIsEndedAndItsAnswerDropped) {
    using sim::H;
    const struct {
        const char* name;
        cat::Language language;
        Bytes leftover, ending, refusal, next, answer;
    } rows[] = {
        {"Kenwood", cat::Language::Kenwood, "FA000140", ";", "?;", "FA;", "FA00014074000;"},
        {"Kenwood, a key unfinished", cat::Language::Kenwood, "TX1", "?;", "?;", "FA;", "FA00014074000;"},
        {"CI-V", cat::Language::CiV, H({0xFE, 0xFE, 0x94, 0xE0, 0x05}), H({0xFC, 0xFC, 0xFC}), "",
         H({0xFE, 0xFE, 0x94, 0xE0, 0x03, 0xFD}), H({0xFE, 0xFE, 0xE0, 0x94, 0x03, 0x00, 0x40, 0x07, 0x14, 0x00, 0xFD})},
        {"5-byte", cat::Language::Yaesu5, H({0x01, 0x40}), H({0x00, 0x00, 0xE7}), H({0x00}), H({0, 0, 0, 0, 0x03}),
         H({0x01, 0x40, 0x74, 0x00, 0x01})},
    };
    for (const auto& row : rows) {
        SimApp app;
        app.f.station.settings.options.cat = row.language;
        app.Serve(2);
        app.Send(1, row.leftover);
        app.clock.Advance(200);  // the rest did not come: its start went as it was
        ASSERT_EQ(app.com.Written(), row.leftover) << row.name;
        app.sockets.PeerCloses(1);
        app.clock.Advance(50);
        EXPECT_EQ(std::pair(app.com.Written(), app.f.station.transmitter.Keyed()), std::pair(row.leftover + row.ending, false))
            << row.name;
        if (!row.refusal.empty()) app.Radio(row.refusal);
        ASSERT_TRUE(app.sockets.RequestConnection());
        app.Send(1, row.next);
        app.clock.Advance(20);
        app.Radio(row.answer);
        EXPECT_EQ(app.com.Written(), row.leftover + row.ending + row.next) << row.name;
        EXPECT_EQ(app.Client(1).sent + "|" + app.Client(2).sent, row.answer + "|") << row.name;  // the refusal: nobody's
    }
}

// The tail of a long answer unlike its command's (a dump to a command the tables
// cannot place) goes like the rest of it once the line is quiet, not at the turn
// limit; one that may be the answer or an error answer waits. The next answer stays its own.
TEST(RadioBlocks, ATailThatCanBeNoAnswerGoesWhenTheLineIsQuiet) {
    for (const auto& [radio, soon] : std::vector<std::pair<Bytes, Bytes>>{{"x1;x2", "x1;x2"}, {"x1;du", "x1;"}, {"x1;?", "x1;"}}) {
        SimApp app;
        app.f.station.settings.options.cat = cat::Language::Kenwood;
        app.Serve(2);
        app.Run({S::C(1, "DUMP;"), S::C(2, "FA;"), S::R(radio), S::T(10), S::G(1, soon), S::G(2, soon), S::T(3000),
                 S::W("DUMP;FA;"), S::R(kFa), S::T(10), S::G(1, radio), S::G(2, soon + kFa)});
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
    app.Radio("MD2;");
    app.com.backlog = kMaxSerialBacklog;
    app.Send(1, "FA;");
    app.Send(1, "FB;");  // stays in the socket, behind the first
    app.clock.Advance(50);
    EXPECT_EQ(app.com.writes, Blocks{"MD;"});
    app.com.LineDrains();  // the read is posted, not taken inside the drain's handler
    EXPECT_EQ(app.com.writes, Blocks{"MD;"});
    app.clock.Advance(0);  // and taken at once from the loop, not at the next tick
    EXPECT_EQ(app.com.writes, (Blocks{"MD;", "FA;FB;"}));
}

// A client that floods while another holds the port parks at most the backlog's
// worth; the rest waits in its socket (TCP slows it down) until its turn comes.
TEST(ClientBlocks, AClientsParkedDataAreBoundedAndItsReadsPauseMeanwhile) {
    const struct {
        const char* name;
        int16_t asker;  // whose FA; holds the port, never answered after the first
        bool flows;  // written at once, only the turn's record bounded (in no language)
    } rows[] = {
        {"another client's turn", 2, false},
        {"its own turn, the radio answering nothing", 1, true},
    };
    const Bytes chunk(4096, 'x');
    for (const auto& row : rows) {
        Plain app;
        app.Serve(2);
        app.Send(row.asker, "FA;");
        Bytes all;
        for (int i = 0; i < 20; ++i) {
            app.Send(1, chunk);
            all += chunk;
        }
        const std::size_t total = 3 + all.size();
        // Past the bound, one more read at most.
        const std::size_t parked = app.f.station.turns.Parked(app.f.station.connections.IdOf(1)).size();
        EXPECT_LE(parked, kMaxParked + chunk.size()) << row.name;
        if (row.flows) {
            EXPECT_EQ(app.com.Written(), "FA;" + all) << row.name;
            EXPECT_LE(app.f.station.turns.EchoAwaited(), Turns::kMaxTurnBytes) << row.name;
        }
        EXPECT_EQ(app.Client(1).rx.size() + app.com.Written().size() + parked, total) << row.name;
        app.com.RadioSends("FA00014074000;");
        for (int turn = 0; turn < 20 && app.com.Written().size() < total; ++turn)
            app.clock.Advance(3000 + kBusyPollMs);
        EXPECT_TRUE(app.com.Written() == "FA;" + all && app.Client(1).rx.empty()) << row.name;
    }
}

// Each parked command costs far more than its bytes: a flood of short reads parks a
// bounded number (one read past the bound at most); the rest waits in its socket.
TEST(ClientBlocks, AFloodOfShortReadsParksABoundedNumberOfCommands) {
    SimApp app;
    app.f.station.settings.options.cat = cat::Language::Kenwood;
    app.Serve(2);
    app.Send(2, "FA;");
    Bytes reads;
    while (reads.size() < 3000) reads += "FB;";
    for (int i = 0; i < 20; ++i) app.Send(1, reads);
    EXPECT_LE(app.f.station.turns.ParkedCommands(app.f.station.connections.IdOf(1)), kMaxParkedCommands + 1000);
    EXPECT_FALSE(app.Client(1).rx.empty());
}

// A client that reads nothing: once a little waits for it its own requests are no
// longer read, and past the bound it is closed; the other client is served
// throughout and a newcomer gets the slot.
TEST(ClientBlocks, WhatWaitsForAClientThatDoesNotReadIsBounded) {
    const Bytes signature("\xFF\xFA\x2C\x00\xFF\xF0", 6), answered("\xFF\xFA\x2C\x64Ovrin", 9);
    Bytes asks;
    for (int i = 0; i < 600; ++i) asks += signature;
    const Bytes talk(4096, 'u');
    const struct {
        const char* name;
        int16_t listener;
        std::function<void(SimApp&)> attack;  // by client 1
        bool closed;
    } rows[] = {
        {"the radio talks on", 0, [&](SimApp& a) { for (int i = 0; i < 200; ++i) a.Radio(talk); }, true},
        {"it asks for the signature again and again", kComPortListener,
         [&](SimApp& a) { for (int i = 0; i < 100; ++i) a.Send(1, asks); }, false},
    };
    for (const auto& row : rows) {
        SimApp app;
        app.f.station.Given.options = {{"clients", "2"}, {"rfc2217-port", "50001"}};
        app.Load();
        ASSERT_TRUE(app.sockets.RequestConnection("198.51.100.1", row.listener) && app.sockets.RequestConnection("198.51.100.2"));
        app.Client(1).StopsReading();
        row.attack(app);
        app.clock.Advance(kBusyPollMs);
        EXPECT_LE(app.sockets.peakUnsent, kMaxUnsent + static_cast<int32_t>(talk.size())) << row.name;
        EXPECT_EQ(app.log.Has({"198.51.100.1", "closed: it does not read"}), row.closed) << row.name;
        EXPECT_EQ(app.sockets.Exists(1), !row.closed) << row.name;
        if (row.closed) {
            EXPECT_EQ(app.Client(2).sent, Bytes(200 * talk.size(), 'u')) << row.name;
            ASSERT_TRUE(app.sockets.RequestConnection("198.51.100.3"));
            app.Client(2).sent.clear();
        } else {
            EXPECT_FALSE(app.Client(1).rx.empty()) << row.name;  // waiting in its socket
            app.Client(1).ReadsAgain();
            app.clock.Advance(kBusyPollMs);
            EXPECT_TRUE(app.Client(1).rx.empty()) << row.name;
            std::size_t answers = 0;
            for (auto at = app.Client(1).sent.find(answered); at != Bytes::npos;
                 at = app.Client(1).sent.find(answered, at + 1))
                ++answers;
            EXPECT_EQ(answers, 100u * 600u) << row.name;
        }
        app.com.writes.clear();
        for (const int16_t i : {int16_t{1}, int16_t{2}}) {  // each its own read: none answered from the other's
            const Bytes vfo = i == 1 ? "FA" : "FB";
            app.Client(i).sent.clear();
            app.Send(i, vfo + ";");
            app.Radio(vfo + "00014074000;");
            EXPECT_EQ(app.Client(i).sent, vfo + "00014074000;") << row.name << ", client " << i;
        }
    }
}

}  // namespace
}  // namespace ovrin
