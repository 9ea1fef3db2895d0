// The simulator's three CAT languages as pure functions: each table walks one
// radio through commands in order, so a set is checked by the reads after it.
// And its command line: the families, their echo, slow commands, refusals.
#include "Cat.h"
#include "Options.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

using namespace ovrin::radiosim;
using Commands = std::vector<std::string>;

namespace {

// "FE FE 94 E0 03 FD" as bytes.
std::string Hex(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); i += 3)
        out += static_cast<char>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16));
    return out;
}

struct Step {
    std::string send;     // Kenwood text, or hex for the binary families
    std::string answer;   // the same
    std::string reports = "";  // unasked, after it
    bool ptt = false;          // the transmitter after it
};

// Feeds each step whole and expects exactly one command back.
void Walk(Radio& radio, bool binary, const std::vector<Step>& steps) {
    for (const Step& s : steps) {
        const auto exchanges = radio.Feed(binary ? Hex(s.send) : s.send);
        ASSERT_EQ(exchanges.size(), 1u) << s.send;
        EXPECT_EQ(exchanges[0].answer, binary ? Hex(s.answer) : s.answer) << s.send;
        EXPECT_EQ(exchanges[0].reports, binary ? Hex(s.reports) : s.reports) << s.send;
        EXPECT_EQ(exchanges[0].ptt, s.ptt) << s.send;
    }
}

// Commands the radio refuses with `refusal`, changing nothing.
std::vector<Step> Refused(std::initializer_list<std::string> commands, const std::string& refusal) {
    std::vector<Step> steps;
    for (const std::string& c : commands) steps.push_back({c, refusal});
    return steps;
}

}  // namespace

TEST(CatParser, JoinsSplitCommandsSplitsSeveralAndDropsNoise) {
    CatParser parser(16);
    EXPECT_EQ(parser.Feed("F"), Commands{});
    EXPECT_EQ(parser.Feed("A;MD;I"), (Commands{"FA;", "MD;"}));
    // Line ends and control bytes between commands are skipped.
    EXPECT_EQ(parser.Feed(std::string("D;\r\n\x01\0 FA00007074000;", 21)), (Commands{"ID;", "FA00007074000;"}));
    EXPECT_EQ(parser.Pending(), 0u);

    EXPECT_EQ(parser.Feed(std::string(100, 'x')), Commands{});
    EXPECT_LE(parser.Pending(), 16u);
    EXPECT_EQ(parser.Feed("yy;FA;"), Commands{"FA;"});  // the tail of the noise is no command
    EXPECT_EQ(parser.Feed("FA0000000000000;"), Commands{"FA0000000000000;"});  // as long as the limit
}

TEST(Kenwood, AnswersAsTheTs2000WithItsLengthsAndReportsChangesWhileAutoInformationIsOn) {
    const char* const idle = "IF00014074000     +000000000020000000;";
    ASSERT_EQ(std::string(idle).size(), 38u);  // what hamlib checks
    KenwoodRadio radio;
    Walk(radio, false, {
        {"ID;", "ID019;"}, {"PS;", "PS1;"}, {"IF;", idle}, {"AI;", "AI0;"}, {"FA;", "FA00014074000;"},
        {"FA00007074000;", ""},  // sets answer nothing
        {"FA;", "FA00007074000;"}, {"MD3;", ""}, {"MD;", "MD3;"}, {"MD2;", ""}, {"TX;", "", "", true},
        {"IF;", "IF00007074000     +000000000120000000;", "", true},  // TX at offset 28
        {"RX;", ""}, {"SA;", "SA0000000        ;"},
        {"SM0;", "SM00005;"}, {"SM1;", "SM10005;"},  // the S-meter: hamlib wants 7 characters before the ';'
        // Split: receive on B, transmit on A; IF shows B's frequency, VFO 1 at 30, split at 32.
        {"FR1;", ""}, {"FT0;", ""}, {"FR;", "FR1;"}, {"FT;", "FT0;"},
        {"IF;", "IF00014074000     +000000000021010000;"},
        {"FR1;", ""}, {"FT;", "FT1;"}, {"FR0;", ""},  // simplex again: FR moves the transmit VFO along
    });
    // Refused, and a refused set changes nothing.
    Walk(radio, false, Refused({"ZZ;", "FA0001407400;", "FA000140740000;", "FA0001407400x;", "MD0;", "MD8;", "fa;", "AI3;", "FR2;", "RX1;", "SM;", "SM2;"}, "?;"));
    Walk(radio, false, {
        {"FA;", "FA00007074000;"},
        // Auto-information: the changed item, then the status word.
        {"AI2;", ""}, {"AI;", "AI2;"},
        {"FB00007000000;", "", "FB00007000000;IF00007074000     +000000000020000000;"},
        {"FB00007000000;", ""},  // no change, no report
        {"MD1;", "", "MD1;IF00007074000     +000000000010000000;"},
        {"TX1;", "", "IF00007074000     +000000000110000000;", true},
        {"RX;", "", "IF00007074000     +000000000010000000;"}, {"AI0;", ""}, {"FA00014074000;", ""},
    });
    EXPECT_EQ(radio.TurnKnob(14'074'100), "");
    radio.Feed("AI1;");
    EXPECT_EQ(radio.TurnKnob(14'074'000), "FA00014074000;IF00014074000     +000000000010000000;");
}

TEST(Civ, AnswersTheSenderAcknowledgesSetsKeepsPttAndTellsAllWithTransceiveOn) {
    CivRadio radio(0x94, true);
    // Frames around their command and data: from the controller E0, to it, and to all (transceive).
    const auto q = [](const std::string& body) { return "FE FE 94 E0 " + body + " FD"; };
    const auto a = [](const std::string& body) { return "FE FE E0 94 " + body + " FD"; };
    const auto all = [](const std::string& body) { return "FE FE 00 94 " + body + " FD"; };
    const std::string ok = a("FB"), tx14074 = all("00 00 40 07 14 00");
    Walk(radio, true, {
        {q("03"), a("03 00 40 07 14 00")}, {q("04"), a("04 01 01")}, {q("19 00"), a("19 00 94")},
        // Set the frequency: ok, and a transceive report to 00; the answer goes to whoever asked.
        {"FE FE 94 E1 05 00 00 07 07 00 FD", "FE FE E1 94 FB FD", all("00 00 00 07 07 00")},
        {q("25 00"), a("25 00 00 00 07 07 00")}, {q("25 00 00 40 07 14 00"), ok, tx14074},
        {q("25 01 00 00 07 07 00"), ok},  // the other VFO: not shown
        {q("25 01"), a("25 01 00 00 07 07 00")}, {q("06 03 02"), ok, all("01 03 02")},
        {q("26 00"), a("26 00 03 00 02")}, {q("26 00 01 01 01"), ok, all("01 01 01")},
        {q("1A 06"), a("1A 06 01 01")}, {q("1A 03 28"), ok}, {q("1A 03"), a("1A 03 28")},
        // PTT: keyed, read back, released.
        {q("1C 00"), a("1C 00 00")}, {q("1C 00 01"), ok, "", true}, {q("1C 00"), a("1C 00 01"), "", true},
        {q("1C 00 00"), ok},
        // Split and VFO B.
        {q("0F 01"), ok}, {q("0F"), a("0F 01")}, {q("07 01"), ok, all("00 00 00 07 07 00") + " " + all("01 01 01")},
        {q("0F"), a("0F 01")},  // still split, now sending on A
        {q("0F 00"), ok}, {q("07 00"), ok, tx14074 + " " + all("01 01 01")},
    });
    // Refused: unknown commands, bad BCD, bad modes and filters, a bad PTT value; the frequency kept.
    Walk(radio, true,
         Refused({q("99"), q("05 00 0A 07 14 00"), q("05 00 40 07 14"), q("06 06"), q("06 01 04"), q("1C 00 02"),
                  q("1C 01"), q("1A 03 41")},
                 a("FA")));
    Walk(radio, true, {{q("03"), a("03 00 40 07 14 00")}});
    EXPECT_EQ(radio.TurnKnob(14'074'100), Hex(all("00 00 41 07 14 00")));
}

TEST(Civ, CutsFramesFromAnyPiecesAndAnswersOnlyItsOwnAddress) {
    CivRadio radio(0x70, false);
    const std::string read = Hex("FE FE 70 E0 03 FD");
    // Noise, another radio's frame, a jammed frame, a frame in pieces, a long preamble.
    EXPECT_TRUE(radio.Feed(Hex("00 13 FD FE FE 94 E0 03 FD FE FE 70 E0 03 FC")).empty());
    for (const char c : read.substr(0, 5)) EXPECT_TRUE(radio.Feed(std::string(1, c)).empty());
    auto exchanges = radio.Feed(read.substr(5) + Hex("FE FE FE 70 E0 1C 00 FD"));
    ASSERT_EQ(exchanges.size(), 2u);
    EXPECT_EQ(std::tuple(exchanges[0].answer, exchanges[0].name, exchanges[1].answer),
              std::tuple(Hex("FE FE E0 70 03 00 40 07 14 00 FD"), "03", Hex("FE FE E0 70 1C 00 00 FD")));
    EXPECT_EQ(radio.TurnKnob(7'074'000), "");  // transceive off
    EXPECT_EQ(radio.Feed(Hex("FE FE 70 E0 25 00 FD"))[0].answer, Hex("FE FE E0 70 25 00 00 40 07 07 00 FD"));
}

TEST(Ft817, AssemblesCommandsByteByByteAnswersReadsAndAcknowledgesEverythingElse) {
    Ft817Radio radio;
    // As hamlib writes them: one byte at a time.
    const std::string read = Hex("00 00 00 00 03");
    for (const char c : read.substr(0, 4)) EXPECT_TRUE(radio.Feed(std::string(1, c)).empty());
    auto exchanges = radio.Feed(read.substr(4));
    ASSERT_EQ(exchanges.size(), 1u);
    EXPECT_EQ(std::tuple(exchanges[0].answer, exchanges[0].name), std::tuple(Hex("01 40 74 00 01"), "03"));

    const auto op = [](const std::string& opcode) { return "00 00 00 00 " + opcode; };  // a command with no data
    const std::string ok = "00";
    Walk(radio, true, {
        {"00 70 74 00 01", ok}, {op("03"), "00 70 74 00 01"},  // 7.074 MHz
        {"02 00 00 00 07", ok}, {op("03"), "00 70 74 00 02"},  // CW
        {op("E7"), ok}, {op("F7"), "FF"},                      // bit 7 set: not keyed
        {op("08"), ok, "", true}, {op("F7"), ok, "", true}, {op("BD"), "A0 00", "", true}, {op("88"), ok},
        {"00 54 00 00 BB", "00 00"}, {op("81"), ok}, {"00 54 00 00 BB", "00 01"},  // 0x55 bit 0: VFO A, to B
        {op("03"), "01 40 74 00 01"}, {op("02"), ok}, {"00 7A 00 00 BB", "80 00"},  // split
        {op("81"), ok}, {"00 7A 00 00 BB", "80 00"}, {op("81"), ok},              // A/B toggled: still split
        {op("08"), ok, "", true}, {op("F7"), "20", "", true},                      // bit 5: split
        {op("88"), ok}, {op("82"), ok}, {"00 7A 00 00 BB", "00 00"},
        {op("55"), ok},  // unknown: acknowledged all the same
    });
    // Several in one read, and a part left over.
    EXPECT_EQ(radio.Feed(Hex("00 00 00 00 03 00 00 00 00 E7 00 00")).size(), 2u);
    EXPECT_EQ(radio.Pending(), 2u);
    radio.DropPending();
    EXPECT_EQ(radio.Feed(Hex("00 00 00 00 03"))[0].answer.size(), 5u);
}

TEST(RadioSimOptions, FamiliesTheirEchoSlowCommandsAndRefusals) {
    struct Case {
        std::vector<std::string> args;
        bool ok, echo;
    };
    std::vector<Case> cases = {
        {{}, true, false},
        {{"--family", "civ"}, true, true},  // a one-wire bus
        {{"--family", "civ", "--no-echo"}, true, false},
        {{"--no-echo", "--family", "civ", "--echo"}, true, true},
        {{"--family", "ft817", "--mode", "echo"}, true, true},
    };
    for (std::vector<std::string> refused : std::vector<std::vector<std::string>>{
             {"--family", "icom"}, {"--civ-address", "E0"}, {"--civ-address", "00"}, {"--civ-address", "9g"},
             {"--slow", "FA"}, {"--slow", ":300"}, {"--slow", "FA:x"}, {"--slow", "F;:300"}, {"--slow", "FA:60001"},
             {"--knob", "0"}, {"--knob"}, {"--step", "0"}, {"--civ-address"}})
        cases.push_back({refused, false, false});
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& a : c.args) line += a + " ";
        Options options;
        std::string error;
        EXPECT_EQ(ParseOptions(c.args, options, error), c.ok) << line << error;
        EXPECT_EQ(options.echo, c.echo && c.ok) << line;
    }
    Options options;
    std::string error;
    ASSERT_TRUE(ParseOptions({"--slow", "fa:450", "--slow", "1c:5", "--civ-address", "0x5e", "--family", "civ",
                              "--transceive", "--knob", "250", "--step", "10"},
                             options, error));
    EXPECT_EQ(std::tuple(options.slowMs, options.radio.civAddress, options.radio.family, options.radio.transceive, options.knobMs),
              std::tuple(std::map<std::string, int>{{"FA", 450}, {"1C", 5}}, 0x5E, Family::Civ, true, 250));
    // A radio tuning in 10 Hz steps rounds a set down to its step.
    auto tuned = MakeRadio(options.radio);
    tuned->Feed(std::string("\xFE\xFE\x5E\xE0\x05\x23\x41\x07\x14\x00\xFD", 11));
    EXPECT_EQ(tuned->State().vfo[0], 14'074'120u);
}
