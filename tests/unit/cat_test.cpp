// The command languages on their own: which language a client speaks, where its
// commands end, what answer each gets, which key the transmitter, and which radio
// bytes answer whom.
#include <gtest/gtest.h>

#include "cat/Cat.h"
#include "cat/Families.h"
#include "sim/SimPlatform.h"

namespace ovrin::cat {
namespace {

using Kind = Answer::Kind;

using sim::H;

// Commands split over reads, in each family, and what never finishes, go through the
// running program in Languages.* (a command split over reads or whose rest never
// comes, a frame in pieces, byte by byte).
TEST(Cat, EachClientsLanguageIsTheOneOfItsFirstWholeCommand) {
    const struct {
        std::vector<Bytes> reads;
        Language spoken;
    } rows[] = {
        {{"FA;"}, Language::Kenwood},
        {{"FA"}, Language::Unknown},                      // not whole yet
        {{H({0xFE, 0xFE, 0x94, 0xE0, 0x03, 0xFD})}, Language::CiV},
        {{H({0x00, 0x54, 0x00, 0x00, 0xBB})}, Language::Yaesu5},
        {{H({0x43, 0x00, 0x00, 0x00, 0x01})}, Language::Yaesu5},  // a frequency that starts with a letter
        {{H({0x12, 0x34, 0x56, 0x78, 0x9A})}, Language::None},    // no such opcode
        {{"hello world"}, Language::Unknown},
        {{Bytes(70, 'x')}, Language::None},                        // text that never ends
        {{H({0xFE, 0x01})}, Language::None},
        {{"\x1B\x1B" "ATH1"}, Language::None},
    };
    for (const auto& row : rows) {
        ClientReader reader;
        for (const Bytes& read : row.reads) reader.Feed(read);
        EXPECT_EQ(reader.Spoken(), row.spoken) << ::testing::PrintToString(row.reads);
    }
}

// The 5-byte key and release: Keying.EachFamilysKeyAndReleaseGoThroughTheTransmitter.
TEST(Cat, CommandsAreCutWholeAndTheirAnswersKnown) {
    struct Expect {
        Bytes bytes;
        Kind kind;
        Keying keying = Keying::None;
    };
    const struct {
        Language language;
        Dialect dialect;
        std::vector<Bytes> reads;
        std::vector<Expect> commands;
    } rows[] = {
        {Language::Kenwood, Dialect::Unknown, {"FR0;FT0;ID;"}, {{"FR0;", Kind::None}, {"FT0;", Kind::None}, {"ID;", Kind::Sure}}},
        {Language::Kenwood, Dialect::Unknown, {"FA00014074000;", "FA;"}, {{"FA00014074000;", Kind::None}, {"FA;", Kind::Sure}}},
        {Language::Kenwood, Dialect::Unknown, {"AG0;AG0100;"}, {{"AG0;", Kind::Sure}, {"AG0100;", Kind::None}}},
        {Language::Kenwood, Dialect::Unknown, {"XY;XY12;"}, {{"XY;", Kind::Maybe}, {"XY12;", Kind::Maybe}}},  // not in the tables
        {Language::Kenwood, Dialect::Unknown, {"MD0;"}, {{"MD0;", Kind::Maybe}}},  // a read on Yaesu, a set on Kenwood
        {Language::Kenwood, Dialect::Yaesu, {"MD0;"}, {{"MD0;", Kind::Sure}}},
        {Language::Kenwood, Dialect::Kenwood, {"MD2;"}, {{"MD2;", Kind::None}}},
        {Language::Kenwood, Dialect::Unknown, {"FA", "00014074000;"}, {{"FA00014074000;", Kind::None}}},
        {Language::Kenwood, Dialect::Unknown, {"\r\nFA;"}, {{"\r\n", Kind::None}, {"FA;", Kind::Sure}}},
        {Language::Kenwood, Dialect::Kenwood, {"TX;RX;TX1;"},
         {{"TX;", Kind::None, Keying::Key}, {"RX;", Kind::None, Keying::Release}, {"TX1;", Kind::None, Keying::Key}}},
        {Language::Kenwood, Dialect::Kenwood, {"fa;tx;Rx;ag0;"},  // one case rule: a client may write lower case
         {{"fa;", Kind::Sure}, {"tx;", Kind::None, Keying::Key}, {"Rx;", Kind::None, Keying::Release},
          {"ag0;", Kind::Sure}}},
        {Language::Kenwood, Dialect::Yaesu, {"TX;TX1;TX0;"},
         {{"TX;", Kind::Sure}, {"TX1;", Kind::None, Keying::Key}, {"TX0;", Kind::None, Keying::Release}}},
        {Language::CiV, Dialect::Unknown,
         {H({0xFE, 0xFE, 0x94, 0xE0, 0x1C, 0x00, 0x01, 0xFD, 0xFE, 0xFE, 0x94, 0xE0, 0x1C, 0x00, 0xFD})},
         {{H({0xFE, 0xFE, 0x94, 0xE0, 0x1C, 0x00, 0x01, 0xFD}), Kind::Sure, Keying::Key},
          {H({0xFE, 0xFE, 0x94, 0xE0, 0x1C, 0x00, 0xFD}), Kind::Sure}}},
        {Language::CiV, Dialect::Unknown, {H({0xFE, 0xFE, 0x00, 0xE0, 0x05, 0x00, 0xFD})},
         {{H({0xFE, 0xFE, 0x00, 0xE0, 0x05, 0x00, 0xFD}), Kind::None}}},  // to every radio: none answers
    };
    for (const auto& row : rows) {
        ClientReader reader(row.language);
        std::vector<Command> got;
        for (const Bytes& read : row.reads)
            for (Command& c : reader.Feed(read, row.dialect)) got.push_back(std::move(c));
        SCOPED_TRACE(::testing::PrintToString(row.reads));
        ASSERT_EQ(got.size(), row.commands.size());
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].bytes, row.commands[i].bytes);
            EXPECT_EQ(got[i].answer.kind, row.commands[i].kind) << got[i].bytes;
            EXPECT_EQ(got[i].keying, row.commands[i].keying) << got[i].bytes;
        }
        EXPECT_FALSE(reader.Holding());
    }
}

// What each role may have written, by each family's tables: a monitor reads only,
// an operator everything but what transmits, a transmit client everything. The
// plain read, set and key of each family, and the refusals, are walked through
// the running program in Roles.EachRoleAgainstEachFamily (with a command not in
// the tables, and bytes in no language).
TEST(Cat, EachRolePassesWhatItsFamilysTablesAllow) {
    using enum Effect;
    const auto civ = [](std::initializer_list<int> body) { return H({0xFE, 0xFE, 0x94, 0xE0}) + H(body) + H({0xFD}); };
    const struct {
        Language language;
        Bytes bytes;
        Effect effect;
        Dialect dialect = Dialect::Unknown;
    } rows[] = {
        {Language::Kenwood, "fa;", Read}, {Language::Kenwood, "KY;", Read},
        {Language::Kenwood, "SM0;", Read},                             // a read with its selector
        {Language::Kenwood, "EX0010000;", Read, Dialect::Kenwood},     // a menu read
        {Language::Kenwood, "EX00100001;", Change, Dialect::Kenwood},  // a menu write
        {Language::Kenwood, "SR;", Change},                            // a reset, never answered
        {Language::Kenwood, "AN0;", Change},                           // a read in one dialect only
        {Language::Kenwood, "RX;", Change}, {Language::Kenwood, "TX1;", Transmits},
        {Language::Kenwood, "TX;", Read, Dialect::Yaesu}, {Language::Kenwood, "TX0;", Change, Dialect::Yaesu},
        {Language::Kenwood, "AC111;", Transmits, Dialect::Kenwood}, {Language::Kenwood, "AC002;", Transmits, Dialect::Yaesu},
        {Language::Kenwood, "AC110;", Change, Dialect::Kenwood}, {Language::Kenwood, "\r\n", Read},
        {Language::Kenwood, "FA000", Change},                          // a rest that never ended
        {Language::CiV, civ({0x15, 0x02}), Read}, {Language::CiV, civ({0x14, 0x01, 0x01, 0x28}), Change},
        {Language::CiV, civ({0x1A, 0x05, 0x00, 0x71}), Read}, {Language::CiV, civ({0x1A, 0x05, 0x00, 0x71, 0x01}), Change},
        {Language::CiV, civ({0x09}), Change},                          // memory write
        {Language::CiV, H({0xFE, 0xFE, 0x00, 0xE0, 0x03, 0xFD}), Change},  // a broadcast
        {Language::CiV, civ({0x1C, 0x00}), Read}, {Language::CiV, civ({0x1C, 0x00, 0x00}), Change},
        {Language::CiV, civ({0x17, 0x43, 0x51}), Transmits}, {Language::CiV, civ({0x1C, 0x01, 0x02}), Transmits},
        {Language::CiV, H({0x13, 0x37}), Change},                      // not a frame
        {Language::Yaesu5, H({0, 0, 0, 0, 0xE7}), Read},
        {Language::Yaesu5, H({0, 0, 0, 0, 0xBC}), Change},             // EEPROM write
        {Language::Yaesu5, H({0, 0, 0, 0, 0x42}), Change},             // no such opcode
    };
    for (const auto& row : rows) {
        Command c;
        if (row.bytes.size() > 1 && (row.bytes.back() == ';' || static_cast<uint8_t>(row.bytes.back()) == 0xFD ||
                                     row.language == Language::Yaesu5)) {
            ClientReader reader(row.language);
            const auto cut = reader.Feed(row.bytes, row.dialect);
            ASSERT_EQ(cut.size(), 1u) << Hex(row.bytes);
            c = cut[0];
        } else {
            c.bytes = row.bytes;  // loose bytes, or a rest that never ended
        }
        EXPECT_EQ(EffectOf(row.language, c, row.dialect), row.effect) << Hex(row.bytes);
        EXPECT_EQ(Permits(Role::Monitor, row.language, c, row.dialect), row.effect == Read) << Hex(row.bytes);
        EXPECT_EQ(Permits(Role::Operate, row.language, c, row.dialect), row.effect != Transmits) << Hex(row.bytes);
        EXPECT_TRUE(Permits(Role::Transmit, row.language, c, row.dialect)) << Hex(row.bytes);
    }
    EXPECT_EQ(ParseRole("Monitor"), std::nullopt);
}

// The frequency as the radio tells it and as commands set it, in each family. The
// Kenwood report and set, the CI-V transceive report and set, and the server's own
// Kenwood read are met at the key in Roles.KeysOnlyInsideTheAllowedBands.
TEST(Cat, FrequenciesAreReadFromReportsAnswersAndSets) {
    const struct {
        Language language;
        std::vector<std::vector<Answer>> written;
        std::vector<Bytes> radio;
        std::optional<int64_t> last;
    } rows[] = {
        {Language::Kenwood, {}, {"FA000140", "74000;"}, 14074000},
        {Language::Kenwood, {}, {"FB00014074000;ID019;?;"}, std::nullopt},
        {Language::CiV, {}, {H({0xFE, 0xFE, 0xE0, 0x94, 0x03, 0x00, 0x40, 0x07, 0x14, 0x00, 0xFD})}, 14074000},
        {Language::CiV, {}, {H({0xFE, 0xFE, 0xE0, 0x94, 0x03, 0x00, 0x4A, 0x07, 0x14, 0x00, 0xFD})}, std::nullopt},
        // The 5-byte answers are told by their place: an acknowledgement, then 03's.
        {Language::Yaesu5, {{{Kind::Sure, {}, 0, 0, 1}, {Kind::Sure, {}, 0, 0, 5}}}, {H({0x00, 0x01, 0x40}), H({0x74, 0x00, 0x01})}, 14074000},
        {Language::Yaesu5, {}, {H({0x01, 0x40, 0x74, 0x00, 0x01})}, std::nullopt},  // nothing asked
    };
    for (const auto& row : rows) {
        FrequencyWatch watch;
        watch.SetLanguage(row.language);
        for (const auto& answers : row.written) watch.Written(answers);
        for (const Bytes& b : row.radio) watch.Heard(b);
        EXPECT_EQ(watch.Last(), row.last) << Hex(row.radio[0]);
    }
    const auto set = [](Language language, const Bytes& bytes) {
        ClientReader reader(language);
        return FrequencySetBy(language, reader.Feed(bytes).at(0));
    };
    EXPECT_EQ(set(Language::Kenwood, "FA;"), std::nullopt);
    EXPECT_EQ(set(Language::CiV, H({0xFE, 0xFE, 0x94, 0xE0, 0x25, 0x00, 0x00, 0x40, 0x07, 0x07, 0x00, 0xFD})), 7074000);
    EXPECT_EQ(set(Language::Yaesu5, H({0x00, 0x70, 0x74, 0x00, 0x01})), 7074000);
    EXPECT_EQ(FrequencyRead(Language::CiV, Command{H({0xFE, 0xFE, 0x94, 0xE0, 0x1C, 0x00, 0x01, 0xFD}), {}, {}, {}, {}}).bytes,
              H({0xFE, 0xFE, 0x94, 0xE0, 0x03, 0xFD}));
}

// Radio bytes against what is awaited: each answer to its asker the moment it is
// whole; everything else unasked; answers given up when a later one comes. Reports
// inside a turn, error answers, CI-V frames to their sender and in pieces, and the
// 5-byte lengths by opcode go through the running program in Languages.*.
TEST(Cat, RadioBytesAnswerTheirAskerAsSoonAsTheyAreWhole) {
    using Piece = AnswerMatcher::Piece;
    const Answer fa{Kind::Sure, "FA", 0, 0, 0}, md{Kind::Sure, "MD", 0, 0, 0}, id{Kind::Sure, "ID", 0, 0, 0};
    const struct {
        const char* name;
        Language language;
        std::vector<std::pair<Answer, uint64_t>> awaited;
        std::vector<Bytes> radio;
        std::vector<Piece> pieces;
        bool done;
    } rows[] = {
        {"in pieces", Language::Kenwood, {{fa, 1}}, {"FA000", "14074000;"}, {{"FA00014074000;", true, 1}}, true},
        {"two askers in order", Language::Kenwood, {{fa, 1}, {id, 2}}, {"FA1;ID019;"},
         {{"FA1;", true, 1}, {"ID019;", true, 2}}, true},
        {"an answer not given", Language::Kenwood, {{fa, 1}, {md, 1}}, {"MD2;"}, {{"MD2;", true, 1}}, true},
        {"still waiting", Language::Kenwood, {{fa, 1}}, {"FA0001"}, {}, false},
        {"nothing awaited", Language::Yaesu5, {}, {H({0x55})}, {{H({0x55}), false, 0}}, true},
    };
    for (const auto& row : rows) {
        AnswerMatcher m;
        m.SetLanguage(row.language);
        for (const auto& [answer, asker] : row.awaited) m.Expect(answer, asker);
        std::vector<Piece> pieces;
        for (const Bytes& b : row.radio)
            for (Piece& p : m.Feed(b)) pieces.push_back(std::move(p));
        EXPECT_EQ(std::pair(pieces, m.Done()), std::pair(row.pieces, row.done)) << row.name;
    }
    AnswerMatcher m;
    m.SetLanguage(Language::Kenwood);
    m.Expect(id, 1);
    m.Feed("ID0570;");
    EXPECT_EQ(m.RadioDialect(), Dialect::Yaesu);
    // A command written in lower case is answered in capitals: still its asker's.
    ClientReader reader(Language::Kenwood);
    const std::vector<Command> lower = reader.Feed("fa;");
    ASSERT_EQ(lower.size(), 1u);
    m.Expect(lower[0].answer, 4);
    const std::vector<Piece> answered{{"FA00014074000;", true, 4}};
    EXPECT_EQ(m.Feed("FA00014074000;"), answered);
}

}  // namespace
}  // namespace ovrin::cat
