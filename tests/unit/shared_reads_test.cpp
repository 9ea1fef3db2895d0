// Reads shared among clients: merged while in flight, answered from the radio's
// last answer within the window, dropped by whatever may change them.
#include <gtest/gtest.h>

#include "cat/SharedReads.h"

namespace ovrin::cat {
namespace {

using Kind = SharedReads::Verdict::Kind;

Bytes H(std::initializer_list<int> bytes) {
    Bytes out;
    for (int b : bytes) out += static_cast<char>(b);
    return out;
}
Bytes Frame(int to, int from, std::initializer_list<int> body) {
    return H({0xFE, 0xFE, to, from}) + H(body) + H({0xFD});
}
Command Read(Language language, const Bytes& bytes, Dialect dialect = Dialect::Kenwood) {
    return ClientReader(language).Feed(bytes, dialect).at(0);
}
struct Said {
    Language language;
    Command command;
};
Said K(const Bytes& text, Dialect dialect = Dialect::Kenwood) {
    return {Language::Kenwood, Read(Language::Kenwood, text, dialect)};
}
// From controller `from` to the radio at 94.
Said C(int from, std::initializer_list<int> body) {
    return {Language::CiV, Read(Language::CiV, Frame(0x94, from, body))};
}
Said Y(int opcode) { return {Language::Yaesu5, Read(Language::Yaesu5, H({0, 0, 0, 0, opcode}))}; }

const Bytes kCivFrequency = Frame(0xE0, 0x94, {0x03, 0x00, 0x40, 0x07, 0x14, 0x00});
const Bytes kFiveFrequency = H({0x01, 0x40, 0x74, 0x00, 0x01});
const Bytes kFa = "FA00014074000;";
const Bytes kIf = "IF00014074000     +00000000002000000 ;";
const Bytes kIf7 = "IF00007074000     +00000000002000000 ;";

SharedReads::Verdict Ask(SharedReads& reads, uint64_t client, const Said& said, uint64_t now) {
    return reads.Ask(client, said.language, said.command, now);
}
// The read goes to the radio, which answers it at `now`.
void Answer(SharedReads& reads, const Said& said, const Bytes& answer, uint64_t now) {
    const auto v = Ask(reads, 99, said, now);
    ASSERT_EQ(v.kind, Kind::Send);
    reads.Answered(v.read, answer, now);
}

TEST(SharedReads, AReadInFlightIsJoinedAndItsAnswerCopiedToEachAskerInItsOwnForm) {
    const struct {
        const char* name;
        uint64_t window;
        std::vector<Said> askers;  // clients 1, 2, ...: the first goes to the radio
        Bytes answer;
        std::vector<Bytes> copies;  // to clients 2, 3, ...
        Said late;                  // asked as the answer comes
        Kind lateKind;
        Bytes lateAnswer;
    } rows[] = {
        {"Kenwood, two", 250, {K("FA;"), K("fa;")}, kFa, {kFa}, K("FA;"), Kind::Cached, kFa},
        {"Kenwood, three", 250, {K("SM0;"), K("SM0;"), K("SM0;")}, "SM00005;", {"SM00005;", "SM00005;"}, K("SM1;"),
         Kind::Send, ""},
        {"CI-V, three controllers",
         250,
         {C(0xE0, {0x03}), C(0xE1, {0x03}), C(0xE2, {0x03})},
         kCivFrequency,
         {Frame(0xE1, 0x94, {0x03, 0x00, 0x40, 0x07, 0x14, 0x00}),
          Frame(0xE2, 0x94, {0x03, 0x00, 0x40, 0x07, 0x14, 0x00})},
         C(0xE3, {0x03}),
         Kind::Cached,
         Frame(0xE3, 0x94, {0x03, 0x00, 0x40, 0x07, 0x14, 0x00})},
        {"5-byte, two", 250, {Y(0x03), Y(0x03)}, kFiveFrequency, {kFiveFrequency}, Y(0x03), Kind::Cached,
         kFiveFrequency},
        {"window 0: merged, never stored", 0, {K("FA;"), K("FA;")}, kFa, {kFa}, K("FA;"), Kind::Send, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SharedReads reads(row.window);
        const auto first = Ask(reads, 1, row.askers[0], 1000);
        ASSERT_EQ(first.kind, Kind::Send);
        EXPECT_NE(first.read, 0u);
        for (uint64_t i = 1; i < row.askers.size(); ++i)
            EXPECT_EQ(Ask(reads, i + 1, row.askers[i], 1010).kind, Kind::Joined);
        std::vector<SharedReads::Copy> expected;
        for (uint64_t i = 0; i < row.copies.size(); ++i) expected.push_back({i + 2, row.copies[i]});
        EXPECT_EQ(reads.Answered(first.read, row.answer, 1050), expected);
        const auto late = Ask(reads, 9, row.late, 1050);
        EXPECT_EQ(late.kind, row.lateKind);
        EXPECT_EQ(late.answer, row.lateAnswer);
        EXPECT_EQ(reads.Tally().joined, row.askers.size() - 1);
    }
}

TEST(SharedReads, AnswersServeForTheirWindowMetersForAShorterOne) {
    const struct {
        const char* name;
        uint64_t window;
        bool reports;
        Said read;
        Bytes answer;  // at 1000
        uint64_t missAt;  // the first moment it goes to the radio again (1000: never stored)
    } rows[] = {
        {"a read", 250, false, K("FA;"), kFa, 1250},
        {"the longest window", 9000, false, K("MD;"), "MD2;", 6000},
        {"Kenwood meter", 250, false, K("SM0;"), "SM00005;", 1100},
        {"a meter within a short window", 50, false, K("SM0;"), "SM00005;", 1050},
        {"CI-V meter", 250, false, C(0xE0, {0x15, 0x02}), Frame(0xE0, 0x94, {0x15, 0x02, 0x01, 0x20}), 1100},
        {"5-byte meter", 250, false, Y(0xE7), H({0x05}), 1100},
        {"5-byte frequency", 500, false, Y(0x03), kFiveFrequency, 1500},
        {"reported while reports are on", 250, true, K("FA;"), kFa, 6000},
        {"a meter is not reported", 250, true, K("SM0;"), "SM00005;", 1100},
        {"window 0 even with reports", 0, true, K("FA;"), kFa, 1000},
        {"an error answer", 250, false, K("FA;"), "?;", 1000},
        {"another read's answer", 250, false, K("FA;"), "FB00014074000;", 1000},
        {"a CI-V refusal", 250, false, C(0xE0, {0x03}), Frame(0xE0, 0x94, {0xFA}), 1000},
        {"a 5-byte answer cut short", 250, false, Y(0x03), H({0x01, 0x40}), 1000},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SharedReads reads(row.window);
        reads.SetReports(row.reports);
        Answer(reads, row.read, row.answer, 1000);
        if (row.missAt > 1000) {
            const auto hit = Ask(reads, 1, row.read, row.missAt - 1);
            EXPECT_EQ(hit.kind, Kind::Cached);
            EXPECT_EQ(hit.answer, row.answer);
        }
        EXPECT_EQ(Ask(reads, 1, row.read, row.missAt).kind, Kind::Send);
    }
}

TEST(SharedReads, ACommandDropsWhatItMayChangeAndNoMore) {
    const std::vector<std::pair<Said, Bytes>> kenwood = {
        {K("FA;"), kFa}, {K("FB;"), "FB00007074000;"}, {K("MD;"), "MD2;"},
        {K("IF;"), kIf},              {K("AG0;"), "AG0100;"},       {K("SH;"), "SH10;"}};
    const std::vector<std::pair<Said, Bytes>> civ = {
        {C(0xE0, {0x03}), kCivFrequency},
        {C(0xE0, {0x04}), Frame(0xE0, 0x94, {0x04, 0x01, 0x01})},
        {C(0xE0, {0x14, 0x01}), Frame(0xE0, 0x94, {0x14, 0x01, 0x01, 0x28})},
        {C(0xE0, {0x14, 0x02}), Frame(0xE0, 0x94, {0x14, 0x02, 0x02, 0x55})},
        {C(0xE0, {0x16, 0x02}), Frame(0xE0, 0x94, {0x16, 0x02, 0x01})},
        {C(0xE0, {0x25, 0x00}), Frame(0xE0, 0x94, {0x25, 0x00, 0x00, 0x40, 0x07, 0x14, 0x00})}};
    const std::vector<std::pair<Said, Bytes>> five = {
        {Y(0x03), kFiveFrequency}, {Y(0xE7), H({0x05})}, {Y(0xF7), H({0x00})}};
    const struct {
        const std::vector<std::pair<Said, Bytes>>& stored;
        Said command;
        std::vector<bool> kept;  // each stored read, in order
    } rows[] = {
        {kenwood, K("FA00014074120;"), {false, false, true, false, true, true}},
        {kenwood, K("fb00014074120;"), {false, false, true, false, true, true}},
        {kenwood, K("MD3;"), {true, true, false, false, true, false}},
        {kenwood, K("AG0090;"), {true, true, true, true, false, true}},
        {kenwood, K("XY1;"), {false, false, false, false, false, false}},   // not in the tables
        {kenwood, K("MD3;", Dialect::Unknown), {false, false, false, false, false, false}},  // cannot be placed yet
        {kenwood, K("FR1;"), {false, false, false, false, false, false}},   // a set not narrowed
        {kenwood, K("TX;"), {true, true, false, false, false, false}},      // keying: all but a VFO's frequency
        {kenwood, K("ID;"), {true, true, true, true, true, true}},          // a read
        {kenwood, K("\r\n"), {true, true, true, true, true, true}},
        {civ, C(0xE1, {0x05, 0x00, 0x40, 0x07, 0x14, 0x00}), {false, true, true, true, true, false}},
        {civ, C(0xE1, {0x06, 0x03}), {true, false, true, true, true, true}},
        {civ, C(0xE1, {0x14, 0x01, 0x00, 0x10}), {true, true, false, true, true, true}},
        {civ, C(0xE1, {0x16, 0x22, 0x01}), {true, true, true, true, false, true}},  // a function may switch another
        {civ, C(0xE1, {0x07, 0xB0}), {false, false, false, false, false, false}},
        {civ, C(0xE1, {0x1C, 0x00, 0x01}), {false, false, false, false, false, false}},
        {civ, C(0xE1, {0x15, 0x02}), {true, true, true, true, true, true}},
        {five, Y(0x01), {false, true, true}},
        {five, Y(0xBB), {true, true, true}},  // an EEPROM read: passed, never shared
        {five, Y(0x08), {false, false, false}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.command.command.bytes));
        SharedReads reads;
        for (const auto& [said, answer] : row.stored) Answer(reads, said, answer, 1000);
        EXPECT_EQ(Ask(reads, 1, row.command, 1010).kind, Kind::Send);
        for (std::size_t i = 0; i < row.stored.size(); ++i)
            EXPECT_EQ(Ask(reads, 2, row.stored[i].first, 1020).kind, row.kept[i] ? Kind::Cached : Kind::Send) << i;
    }
}

TEST(SharedReads, AReadInFlightWhenSomethingChangesIsNeitherJoinedNorStored) {
    SharedReads reads;
    const auto before = Ask(reads, 1, K("FA;"), 0);
    EXPECT_EQ(Ask(reads, 2, K("FA00014074123;"), 5).effect, SharedReads::Effect::Frequency);
    const auto after = Ask(reads, 3, K("FA;"), 10);
    ASSERT_EQ(after.kind, Kind::Send);  // the set's outcome, not the read before it
    EXPECT_EQ(Ask(reads, 4, K("FA;"), 12).kind, Kind::Joined);
    EXPECT_TRUE(reads.Answered(before.read, kFa, 20).empty());
    const std::vector<SharedReads::Copy> copies{{4, "FA00014074120;"}};
    EXPECT_EQ(reads.Answered(after.read, "FA00014074120;", 30), copies);
    EXPECT_EQ(Ask(reads, 5, K("FA;"), 40).answer, "FA00014074120;");  // the radio's rounding, never the request

    // A client that leaves gets no copy; a read whose answer never came hands back its joiners.
    const auto md = Ask(reads, 1, K("MD;"), 50);
    Ask(reads, 2, K("MD;"), 51);
    Ask(reads, 3, K("MD;"), 52);
    reads.Leave(2);
    EXPECT_EQ(reads.GiveUp(md.read), (std::vector<SharedReads::Asker>{{3, K("MD;").command}}));
    EXPECT_EQ(reads.InFlight(), 0u);
}

TEST(SharedReads, TheRadiosReportsRefreshWhatTheyCarry) {
    const struct {
        const char* name;
        Dialect dialect;
        std::vector<std::pair<Said, Bytes>> stored;  // at 0
        Bytes reports;                               // at 100
        std::vector<std::pair<Said, Bytes>> probes;  // at 4000: the answer, or "" for one sent
        std::size_t cut = 0;                         // the reports come in two pieces, cut here
    } rows[] = {
        {"Kenwood frequency with its status word", Dialect::Kenwood,
         {{K("FA;"), kFa}, {K("MD;"), "MD3;"}},
         "FA00007074000;" + kIf7,  // the status word carries VFO A's frequency and the mode (USB)
         {{K("FA;"), "FA00007074000;"}, {K("IF;"), kIf7}, {K("MD;"), "MD2;"}}},
        {"the status word alone, on a slow line long after", Dialect::Kenwood, {{K("FA;"), kFa}}, kIf,
         {{K("FA;"), kFa}, {K("IF;"), kIf}}},
        {"a status word of a memory channel", Dialect::Kenwood, {{K("FA;"), kFa}, {K("MD;"), "MD2;"}},
         "IF00014074000     +00000000002200000 ;", {{K("FA;"), ""}, {K("MD;"), ""}}},
        {"the newer Yaesu's status word says nothing it carries", Dialect::Yaesu, {{K("FA;"), kFa}},
         kIf, {{K("FA;"), ""}}},
        {"Yaesu mode", Dialect::Yaesu, {{K("MD0;", Dialect::Yaesu), "MD02;"}}, "MD03;",
         {{K("MD0;", Dialect::Yaesu), "MD03;"}}},
        {"mode before the dialect is known", Dialect::Unknown, {{K("IF;"), kIf}}, "MD03;", {{K("IF;"), ""}}},
        {"another report", Dialect::Kenwood, {{K("FA;"), kFa}}, "FR1;", {{K("FA;"), ""}}},
        {"a late error answer", Dialect::Kenwood, {{K("FA;"), kFa}}, "?;", {{K("FA;"), kFa}}},
        {"CI-V transceive",
         Dialect::Unknown,
         {{C(0xE0, {0x03}), kCivFrequency}, {C(0xE0, {0x14, 0x01}), Frame(0xE0, 0x94, {0x14, 0x01, 0x01, 0x28})}},
         Frame(0x00, 0x94, {0x00, 0x00, 0x50, 0x07, 0x14, 0x00}) + Frame(0x00, 0x94, {0x01, 0x03, 0x02}),
         {{C(0xE1, {0x03}), Frame(0xE1, 0x94, {0x03, 0x00, 0x50, 0x07, 0x14, 0x00})},
          {C(0xE1, {0x04}), Frame(0xE1, 0x94, {0x04, 0x03, 0x02})},
          {C(0xE1, {0x14, 0x01}), ""}}},  // not carried: past the window
        {"CI-V: another transceive frame", Dialect::Unknown, {{C(0xE0, {0x03}), kCivFrequency}},
         Frame(0x00, 0x94, {0x1A, 0x06, 0x01, 0x01}), {{C(0xE0, {0x03}), ""}}},
        {"CI-V: a mode without its filter", Dialect::Unknown,
         {{C(0xE0, {0x04}), Frame(0xE0, 0x94, {0x04, 0x01, 0x01})}},
         Frame(0x00, 0x94, {0x01, 0x03}), {{C(0xE0, {0x04}), ""}}},
        {"CI-V: an answer nobody awaited", Dialect::Unknown, {{C(0xE0, {0x03}), kCivFrequency}},
         Frame(0xE0, 0x94, {0xFB}), {{C(0xE0, {0x03}), kCivFrequency}}},
        {"a report cut in two (a client wrote meanwhile)", Dialect::Kenwood, {{K("FA;"), kFa}}, "FA00007074000;",
         {{K("FA;"), "FA00007074000;"}}, 9},
        {"CI-V transceive cut in two", Dialect::Unknown, {{C(0xE0, {0x03}), kCivFrequency}},
         Frame(0x00, 0x94, {0x00, 0x00, 0x50, 0x07, 0x14, 0x00}),
         {{C(0xE0, {0x03}), Frame(0xE0, 0x94, {0x03, 0x00, 0x50, 0x07, 0x14, 0x00})}}, 4},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SharedReads reads;
        reads.SetReports(true);
        for (const auto& [said, answer] : row.stored) Answer(reads, said, answer, 0);
        const std::size_t cut = row.cut ? row.cut : row.reports.size();
        reads.Unasked(row.stored[0].first.language, row.dialect, row.reports.substr(0, cut), 100);
        reads.Unasked(row.stored[0].first.language, row.dialect, row.reports.substr(cut), 100);
        const Said* served = nullptr;
        for (const auto& [said, answer] : row.probes) {
            const auto v = Ask(reads, 7, said, 4000);
            EXPECT_EQ(v.kind, answer.empty() ? Kind::Send : Kind::Cached) << said.command.bytes;
            EXPECT_EQ(v.answer, answer);
            if (!served && !answer.empty()) served = &said;
        }
        // Refreshed from the radio at most every 5 s.
        if (served) {
            EXPECT_EQ(Ask(reads, 7, *served, 5100).kind, Kind::Send);
        }
    }
}

// While the radio's reports are on, a reported read asked while the radio is partway
// through a report that may carry or change it waits for the report to be whole.
TEST(SharedReads, AReadWaitsForAReportPartlySaid) {
    using Settled = SharedReads::Settled;
    const Said set = K("FA00014074120;");
    const struct {
        const char* name;
        Bytes start;      // what the radio has begun to say when the read is asked
        bool held;        // the turns hold it (otherwise Unasked has had it)
        Said read;
        Kind kind;        // at once
        Bytes rest;       // then said ("": the line goes quiet instead)
        Bytes then;       // begun after it
        Bytes answer;     // the waiting read's, or "" when it goes to the radio
        bool reports = true;
        const Said* between = nullptr;  // a client's command while it waits
        uint64_t window = 250;
    } rows[] = {
        {"the frequency's report", "FA000140", false, K("FA;"), Kind::Joined, "74100;", "", "FA00014074100;"},
        {"held by the turns", "FA000140", true, K("FA;"), Kind::Joined, "74100;", "", "FA00014074100;"},
        {"the status word carries the mode", "IF00007", false, K("MD;"), Kind::Joined, kIf7.substr(7), "", "MD2;"},
        {"answered once its report is whole, the status word begun behind it", "FA0000707", false, K("FA;"),
         Kind::Joined, "4000;", "IF00", "FA00007074000;"},
        {"one letter may begin it; a VFO switch drops it", "F", true, K("FA;"), Kind::Joined, "R1;", "",
         ""},
        {"one letter, then a report that leaves it", "M", true, K("MD;"), Kind::Joined, "G050;", "", "MD3;"},
        {"cut short: the radio", "FA000140", false, K("FA;"), Kind::Joined, "", "", ""},
        {"a set meanwhile: the radio", "FA000140", false, K("FA;"), Kind::Joined, "74100;", "", "", true, &set},
        {"a mode report leaves the frequency", "MD", true, K("FA;"), Kind::Cached, "", "", ""},
        {"another read's answer", "SM000", true, K("FA;"), Kind::Cached, "", "", ""},
        {"a meter is not reported", "FA000140", false, K("SM0;"), Kind::Send, "", "", ""},
        {"reports off", "FA000140", false, K("FA;"), Kind::Cached, "", "", "", false},
        {"window 0: to the radio at once", "FA000140", false, K("FA;"), Kind::Send, "", "", "", true, nullptr, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SharedReads reads(row.window);
        reads.SetReports(row.reports);
        Answer(reads, K("FA;"), kFa, 0);
        Answer(reads, K("MD;"), "MD3;", 0);
        if (!row.held) reads.Unasked(Language::Kenwood, Dialect::Kenwood, row.start, 100);
        EXPECT_TRUE(reads.Hearing(true, row.held ? row.start : "", 100).empty());
        const auto v = Ask(reads, 1, row.read, 101);
        ASSERT_EQ(v.kind, row.kind);
        if (v.kind != Kind::Joined) continue;
        EXPECT_EQ(Ask(reads, 2, row.read, 102).read, v.read);  // another asker waits with it
        if (row.between) Ask(reads, 3, *row.between, 103);
        EXPECT_TRUE(reads.Hearing(true, row.held ? row.start : "", 104).empty());
        if (!row.rest.empty()) reads.Unasked(Language::Kenwood, Dialect::Kenwood, (row.held ? row.start : "") + row.rest, 110);
        const std::vector<Settled> expected{{v.read, {1, row.read.command}, row.answer},
                                            {v.read, {2, row.read.command}, row.answer}};
        EXPECT_EQ(reads.Hearing(!row.rest.empty(), row.then, 110), expected);
        EXPECT_EQ(reads.InFlight(), 0u);
    }
}

// A read not yet on its way is joined by nobody; an answer that is not the read's
// own is copied to nobody, its joiners handed back to ask anew.
TEST(SharedReads, OnlyAReadOnItsWayIsJoinedAndOnlyItsOwnAnswerCopied) {
    SharedReads reads;
    const auto parked = Ask(reads, 1, K("FA;"), 0);
    reads.Parked(parked.read);
    EXPECT_EQ(Ask(reads, 2, K("FA;"), 1).kind, Kind::Send);
    reads.Written(parked.read);
    EXPECT_EQ(Ask(reads, 3, K("FA;"), 2).kind, Kind::Joined);
    EXPECT_TRUE(reads.Answered(parked.read, "?;", 3).empty());
    EXPECT_EQ(reads.Again(), (std::vector<SharedReads::Asker>{{3, K("FA;").command}}));
    EXPECT_TRUE(reads.Again().empty());

    // A parked read the radio answered meanwhile (for another) is done unwritten,
    // unless something may have changed it since it was asked.
    SharedReads later;
    const auto fa = Ask(later, 1, K("FA;"), 0);
    later.Parked(fa.read);
    EXPECT_EQ(later.Meanwhile(fa.read, 1), std::nullopt);
    Answer(later, K("FA;"), kFa, 5);
    EXPECT_EQ(later.Meanwhile(fa.read, 6), kFa);
    const auto md = Ask(later, 1, K("MD;"), 7);
    later.Parked(md.read);
    Ask(later, 2, K("MD3;"), 8);
    later.Unasked(Language::Kenwood, Dialect::Kenwood, "MD2;", 9);
    EXPECT_EQ(later.Meanwhile(md.read, 10), std::nullopt);
}

TEST(SharedReads, KeyingByTheLineDropsAllButAVfosFrequencyClosingThePortForgetsReadsInFlightToo) {
    SharedReads reads;
    Answer(reads, K("FA;"), kFa, 0);
    Answer(reads, K("MD;"), "MD2;", 0);
    const auto keyed = Ask(reads, 1, K("IF;"), 0);
    reads.Changed();
    EXPECT_EQ(reads.Stored(), 1u);
    EXPECT_EQ(Ask(reads, 2, K("FA;"), 1).kind, Kind::Cached);
    EXPECT_EQ(Ask(reads, 2, K("MD;"), 1).kind, Kind::Send);
    EXPECT_EQ(Ask(reads, 2, K("IF;"), 1).kind, Kind::Send);  // not the read from before the key
    reads.Answered(keyed.read, kIf, 2);
    EXPECT_EQ(reads.Stored(), 1u);

    reads = SharedReads();
    Answer(reads, K("FA;"), kFa, 0);
    const auto inFlight = Ask(reads, 1, K("MD;"), 0);
    Ask(reads, 2, K("MD;"), 0);
    reads.Close();
    EXPECT_EQ(reads.Stored() + reads.InFlight(), 0u);
    EXPECT_TRUE(reads.Answered(inFlight.read, "MD2;", 10).empty());
    EXPECT_EQ(Ask(reads, 1, K("FA;"), 10).kind, Kind::Send);
    EXPECT_EQ(Ask(reads, 1, K("MD;"), 10).kind, Kind::Send);
    EXPECT_EQ(reads.Tally(), (SharedReads::Counts{4, 1, 0}));
}

}  // namespace
}  // namespace ovrin::cat
