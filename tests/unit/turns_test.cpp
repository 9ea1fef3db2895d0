// The turns on their own: who writes, what is parked, where radio data go.
#include <gtest/gtest.h>

#include "turns/Turns.h"

namespace ovrin {
namespace {

using Deliveries = std::vector<Turns::Delivery>;
using Kind = cat::Answer::Kind;

struct Two : Turns {
    Two() { Join(1); Join(2); }
};
// One Kenwood command and the answer it awaits.
Turns::Block Kenwood(const Bytes& command, Kind answer, bool echoed = false) {
    return {command, echoed, cat::Language::Kenwood, {{answer, command.substr(0, 2)}}, {command.size()}};
}

// Each step: a client's block (from != 0) or radio data (from == 0), with what is
// written and what is delivered.
struct Step {
    ConnectionId from;
    Bytes data;
    Bytes written;
    Deliveries delivered;
};

TEST(Turns, EchoesAnswersAndParkedBlocksGoWhereTheyBelong) {
    const struct {
        const char* name;
        std::vector<Step> steps;
    } rows[] = {
        {"echo while another client's block is parked",
         {{1, "FA;", "FA;", {}}, {2, "IF;", "", {}}, {0, "FA;FA00014074000;", "", {{1, "FA00014074000;"}}}}},
        {"a parked block's own echo is dropped in its turn",
         {{1, "FA;", "FA;", {}}, {2, "IF;", "", {}}, {0, "FA1;", "", {{1, "FA1;"}}}, {0, "IF;IF2;", "", {{2, "IF2;"}}}}},
        {"unasked output reaches every client",
         {{0, "PS1;", "", {{1, "PS1;"}, {2, "PS1;"}}}}},
        {"a busy holder waits behind a parked client",
         {{1, "A;", "A;", {}}, {2, "B;", "", {}}, {1, "A2;", "", {}}, {0, "a;", "", {{1, "a;"}}}, {0, "b;", "", {{2, "b;"}}},
          {0, "a2;", "", {{1, "a2;"}}}}},
    };
    for (const auto& row : rows) {
        Two turns;
        Bytes written;
        for (const Step& step : row.steps) {
            Deliveries delivered;
            if (step.from != 0) {
                if (auto w = turns.Submit(step.from, step.data)) written += w->data;
            } else {
                delivered = turns.RadioData(step.data, true);
                if (turns.AnswerComplete())
                    if (auto w = turns.NextParked()) written += w->data;
            }
            EXPECT_EQ(delivered, step.delivered) << row.name << ": " << step.data;
            if (!step.written.empty()) {
                EXPECT_EQ(written.substr(written.size() - step.written.size()), step.written);
            }
        }
    }
}

// A turn whose holder has left: its answer reaches nobody, its parked block still
// goes; the answer wait ends a turn that got nothing but its echo.
TEST(Turns, ADepartedHoldersAnswerReachesNobodyAndSilenceEndsATurn) {
    Two turns;
    ASSERT_TRUE(turns.Submit(1, "FA;"));
    EXPECT_FALSE(turns.Submit(2, "MD;"));
    turns.Leave(2);
    turns.Leave(1);
    EXPECT_TRUE(turns.RadioData("FA1;", true).empty());
    ASSERT_TRUE(turns.AnswerComplete());
    EXPECT_EQ(turns.NextParked(), (Turns::Write{2, "MD;"}));
    EXPECT_TRUE(turns.RadioData("MD;", false).empty());  // its echo
    EXPECT_FALSE(turns.AnswerComplete());
    EXPECT_TRUE(turns.AnswerWaitOver());
    EXPECT_FALSE(turns.TurnOpen());
}

// A Kenwood set gets no answer unless the radio refuses it: a refusal that comes
// after the setter's turn is still the setter's, while a client's own error answer
// a turn later is its own.
TEST(Turns, ASetsRefusalIsItsWritersAndAnErrorLaterTheAskers) {
    // A client's command and the answer it awaits (from != 0), the turn of a set
    // ending once it is on the line; or radio data (from == 0).
    struct Step {
        ConnectionId from;
        Bytes data;
        Kind answer = Kind::None;
    };
    const struct {
        const char* name;
        std::vector<Step> steps;
        Deliveries delivered;
    } rows[] = {
        {"a refusal after the setter's turn", {{1, "FA1;"}, {2, "FA;", Kind::Sure}, {0, "?;"}, {0, "FA5;"}},
         {{1, "?;"}, {2, "FA5;"}}},
        {"the setter's set refused before its read is answered",
         {{1, "FA1;"}, {1, "FA;", Kind::Sure}, {0, "?;"}, {0, "FA5;"}}, {{1, "?;"}, {1, "FA5;"}}},
        {"an error after another's set and an answer",
         {{1, "FA1;"}, {2, "FB;", Kind::Sure}, {0, "FB5;"}, {2, "ID;", Kind::Sure}, {0, "?;"}}, {{2, "FB5;"}, {2, "?;"}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Two turns;
        Deliveries delivered;
        for (const Step& step : row.steps) {
            if (step.from == 0) {
                for (const auto& d : turns.RadioData(step.data, true)) delivered.push_back(d);
                turns.AnswerComplete();
                continue;
            }
            ASSERT_TRUE(turns.Submit(step.from, Kenwood(step.data, step.answer)));
            if (step.answer == Kind::None) {
                ASSERT_TRUE(turns.AnswerWaitOver());
            }
        }
        EXPECT_EQ(delivered, row.delivered);
        EXPECT_FALSE(turns.TurnOpen());  // every turn got its answer
    }
}

// A command the tables cannot place waits for its answer only for the answer wait,
// unless the radio has begun one: then it is waited for, and it is the asker's.
TEST(Turns, AnAnswerBegunIsWaitedForPastTheAnswerWait) {
    for (const bool begun : {false, true}) {
        Two turns;
        ASSERT_TRUE(turns.Submit(1, Kenwood("7Q;", Kind::Maybe)));
        if (begun) {
            EXPECT_TRUE(turns.RadioData("?", false).empty());
        }
        EXPECT_EQ(turns.AnswerWaitOver(), !begun) << begun;
        if (begun) {
            EXPECT_EQ(turns.RadioData(";", true), (Deliveries{{1, "?;"}}));
            EXPECT_TRUE(turns.AnswerComplete());
        }
    }
}

// What the radio said before a client came is not its, even when it was still being
// gathered then: an unfinished piece, or the start of an echo that proves to be none.
TEST(Turns, ALateJoinerGetsOnlyWhatTheRadioSaidAfterItCame) {
    const struct {
        const char* name;
        Bytes before, after;  // radio bytes around the join, the line busy in between
        Deliveries toLate;    // what the late joiner gets of `after`, then of "PS0;"
    } rows[] = {
        {"an unfinished unasked piece", "PS", "1;FA1;", {{3, "PS0;"}}},
        {"the start of an echo that proves to be none", "F", "B1;", {{3, "PS0;"}}},
        {"the start of an echo that is one", "F", "A;PS1;", {{3, "PS1;"}, {3, "PS0;"}}},
    };
    for (const auto& row : rows) {
        Two turns;
        ASSERT_TRUE(turns.Submit(1, Kenwood("FA;", Kind::Sure, true))) << row.name;
        turns.RadioData(row.before, false);
        turns.Join(3);
        Deliveries toLate;
        for (const Bytes& radio : {row.after, Bytes("PS0;")})
            for (const auto& d : turns.RadioData(radio, true))
                if (d.to == 3) toLate.push_back(d);
        EXPECT_EQ(toLate, row.toLate) << row.name;
    }
    // Its own answer joined to the end of one a client that left never got whole.
    Turns turns;
    turns.Join(1);
    ASSERT_TRUE(turns.Submit(1, Kenwood("FB;", Kind::Sure)));
    EXPECT_TRUE(turns.RadioData("ATHB", true).empty());
    turns.Leave(1);
    turns.Join(2);
    ASSERT_TRUE(turns.Submit(2, Kenwood("ATX;", Kind::Maybe)));
    EXPECT_EQ(turns.RadioData("ATX0;", true), (Deliveries{{2, "ATX0;"}}));
}

}  // namespace
}  // namespace ovrin
