// The in-band PTT commands (ESC ESC "ATH1" and "ATH0") in a client's data: found
// wherever they stand, never written to the radio, and asked about once while
// "Control RTS as PTT" is off.
#include <gtest/gtest.h>

#include <algorithm>

#include "sim/SimPlatform.h"

namespace ovrin {
namespace {

using sim::Keyer;
const Bytes& kKey = sim::kInBandKey;
const Bytes& kRelease = sim::kInBandRelease;

// Commands are found wherever they stand in a read; the bytes around them go to
// the radio unchanged and in order; a command is never written.
TEST(Ptt, CommandsAreObeyedWhereverTheyStandInARead) {
    const struct {
        std::vector<Bytes> reads;
        Bytes radio;
        std::vector<bool> rts;
    } rows[] = {
        {{kKey}, "", {true}}, {{"FA;" + kKey}, "FA;", {true}}, {{kKey + "\r"}, "\r", {true}},
        {{"FA;" + kKey + "IF;" + kRelease + "MD;"}, "FA;IF;MD;", {true, false}},
        {{"AB\x1B\x1B" "ATH2" "CD"}, "AB\x1B\x1B" "ATH2" "CD", {}},  // not a command: data
        {{"\x1B\x1B" "ath1"}, "\x1B\x1B" "ath1", {}},
        {{"FA;\x1B\x1B" "AT", "H1IF;"}, "FA;IF;", {true}},  // split over two reads
        {{"\x1B", "\x1B" "ATH0"}, "", {false}},
        {{"\x1B\x1B" + kKey + "ATH0"}, "", {true, false}},  // one taken out brings another together
        {{"ID;\x1B\x1B"}, "ID;\x1B\x1B", {}},  // a command's start with nothing after it is data
    };
    for (const auto& row : rows) {
        Keyer app;
        for (const Bytes& read : row.reads) app.Send(1, read);
        // What follows an unanswered read waits for its turn: the turn limit.
        app.clock.Advance(kHoldMs + app.f.station.path.tmrActivePort.Interval());
        SCOPED_TRACE(::testing::PrintToString(row.reads));
        EXPECT_EQ(std::pair(app.com.Written(), app.com.rtsHistory), std::pair(row.radio, row.rts));
    }
}

// The first command while RTS control is off asks once. Yes obeys it and turns RTS
// control on, and the port no longer stays open keyed between clients; No drops
// it and every later one. A command or data that come while the box is open raise
// no second question and are written once.
TEST(Ptt, TheFirstCommandAsksOnceAndTheAnswerHolds) {
    for (const MsgResult answer : {MsgResult::Yes, MsgResult::No}) {
        Keyer app(0);
        const bool yes = answer == MsgResult::Yes;
        app.f.chkBridge.SetValue(1);
        ASSERT_TRUE(app.sockets.RequestConnection());
        app.dialogs.Answer(answer);
        app.dialogs.whileOpen = [&] { app.Send(2, "FA;" + kKey); };
        app.Send(1, kKey);
        app.clock.Advance(0);  // what waited behind the question is read from the loop
        EXPECT_EQ(app.com.RTSEnable(), yes);
        app.Send(1, kRelease);
        EXPECT_EQ(app.dialogs.shown.size(), 1u);
        EXPECT_EQ(app.com.rtsHistory, (yes ? std::vector<bool>{true, false} : std::vector<bool>{}));
        EXPECT_EQ(app.com.writes, std::vector<Bytes>{"FA;"});
        EXPECT_EQ(std::tuple(app.f.chkCtrlPTT.Value(), app.f.chkComPortActiveInListen.Value()), std::tuple(yes, !yes));
    }
    // The asker leaves, or releases, while the box is open: a Yes keys nothing, and
    // what it sent meanwhile follows the block that asked.
    for (const bool leaves : {true, false}) {
        Keyer app(0);
        app.dialogs.Answer(MsgResult::Yes);
        app.dialogs.whileOpen = [&] { leaves ? app.sockets.PeerCloses(1) : app.Send(1, kRelease + "ID;"); };
        app.Send(1, kKey + "FA;");
        app.clock.Advance(app.f.station.path.tmrActivePort.Interval());  // FA; unanswered: the turn limit
        EXPECT_EQ(app.f.chkCtrlPTT.Value(), 1);
        EXPECT_EQ(std::count(app.com.rtsHistory.begin(), app.com.rtsHistory.end(), true), 0) << leaves;
        EXPECT_EQ(app.com.Written(), leaves ? "FA;" : "FA;ID;");
    }
}

}  // namespace
}  // namespace ovrin
