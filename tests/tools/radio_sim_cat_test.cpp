#include "Cat.h"
#include "Options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace ovrin::radiosim;
using Commands = std::vector<std::string>;

TEST(CatParser, JoinsCommandsSplitOverReadsAndSplitsSeveralInOneRead) {
    CatParser parser;
    EXPECT_EQ(parser.Feed("F"), Commands{});
    EXPECT_EQ(parser.Feed("A"), Commands{});
    EXPECT_EQ(parser.Feed(";MD;I"), (Commands{"FA;", "MD;"}));
    EXPECT_EQ(parser.Pending(), 1u);
    EXPECT_EQ(parser.Feed("D;FA00007074000;"), (Commands{"ID;", "FA00007074000;"}));
    EXPECT_EQ(parser.Pending(), 0u);
}

TEST(CatParser, SkipsLineEndsAndControlBytesBetweenCommands) {
    CatParser parser;
    EXPECT_EQ(parser.Feed(std::string("FA;\r\n\x01\0 MD;\n", 12)), (Commands{"FA;", "MD;"}));
    EXPECT_EQ(parser.Pending(), 0u);
}

TEST(CatParser, DropsGarbageBeyondTheLimitUpToTheNextSemicolon) {
    CatParser parser(16);
    EXPECT_EQ(parser.Feed(std::string(100, 'x')), Commands{});
    EXPECT_LE(parser.Pending(), 16u);
    EXPECT_TRUE(parser.Discarding());
    // The tail of the noise ends at the ';' and must not come out as a command.
    EXPECT_EQ(parser.Feed("yy;FA;"), Commands{"FA;"});
    EXPECT_FALSE(parser.Discarding());
    // A command as long as the limit still passes.
    EXPECT_EQ(parser.Feed("FA0000000000000;"), Commands{"FA0000000000000;"});
}

TEST(CatAnswer, ReadsTheDefaults) {
    RadioState radio;
    EXPECT_EQ(Answer(radio, "FA;"), "FA00014074000;");
    EXPECT_EQ(Answer(radio, "FB;"), "FB00014074000;");
    EXPECT_EQ(Answer(radio, "MD;"), "MD2;");
    EXPECT_EQ(Answer(radio, "ID;"), "ID019;");
    EXPECT_EQ(Answer(radio, "PS;"), "PS1;");
}

TEST(CatAnswer, SetsWithoutAnswerAndReadsBack) {
    RadioState radio;
    EXPECT_EQ(Answer(radio, "FA00007074000;"), "");
    EXPECT_EQ(Answer(radio, "FB00021074000;"), "");
    EXPECT_EQ(Answer(radio, "MD3;"), "");
    EXPECT_EQ(Answer(radio, "FA;"), "FA00007074000;");
    EXPECT_EQ(Answer(radio, "FB;"), "FB00021074000;");
    EXPECT_EQ(Answer(radio, "MD;"), "MD3;");
    // The largest frequency the 11 digits hold.
    EXPECT_EQ(Answer(radio, "FA99999999999;"), "");
    EXPECT_EQ(Answer(radio, "FA;"), "FA99999999999;");
}

TEST(CatAnswer, RejectsWhatItDoesNotUnderstandAndKeepsState) {
    RadioState radio;
    for (const char* bad : {"ZZ;", ";", "F;", "FA0001407400;", "FA000140740000;", "FA0001407400x;",
                            "MD0;", "MDx;", "MD12;", "ID1;", "fa;", "FA"}) {
        EXPECT_EQ(Answer(radio, bad), "?;") << bad;
    }
    EXPECT_EQ(Answer(radio, "FA;"), "FA00014074000;");
    EXPECT_EQ(Answer(radio, "MD;"), "MD2;");
}

TEST(CatAnswer, InformationCarriesFrequencyAndModeWhereClientsLook) {
    RadioState radio;
    Answer(radio, "FA00003573000;");
    Answer(radio, "MD3;");
    const std::string info = Answer(radio, "IF;");
    ASSERT_EQ(info.size(), 38u) << info;
    EXPECT_EQ(info.substr(0, 13), "IF00003573000");
    EXPECT_EQ(info[29], '3');
    EXPECT_EQ(info.back(), ';');
}

TEST(FormatLog, ShowsHexAndPrintableSixteenBytesALine) {
    EXPECT_EQ(FormatLog("12:00:00.000", "<-", "FA;\r"),
              "12:00:00.000 <- 46 41 3B 0D" + std::string(12 * 3 + 2, ' ') + "|FA;.|\n");
    const std::string two = FormatLog("t", "->", std::string(17, '\xFF'));
    EXPECT_EQ(two.substr(two.find('\n') + 1), "t -> FF" + std::string(15 * 3 + 2, ' ') + "|.|\n");
    EXPECT_EQ(FormatLog("t", "->", ""), "");
}

TEST(Options, EchoModeIsCatWithEchoAndRawEchoIsLoopback) {
    Options o;
    std::string error;
    ASSERT_TRUE(ParseOptions({"--mode", "echo", "--delay", "0"}, o, error));
    EXPECT_EQ(o.mode, Mode::Cat);
    EXPECT_TRUE(o.echo);
    EXPECT_EQ(o.delayMs, 0);
    o = {};
    ASSERT_TRUE(ParseOptions({"--raw-echo"}, o, error));
    EXPECT_EQ(o.mode, Mode::Loopback);
}

TEST(Options, RejectsBadValues) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--mode", "kenwood"}, {"--delay", "20ms"}, {"--delay", "-1"},
          {"--delay", "60001"}, {"--delay"}, {"--link"}, {"--link", ""}, {"--verbose"}}) {
        Options o;
        std::string error;
        EXPECT_FALSE(ParseOptions(args, o, error)) << args[0];
        EXPECT_FALSE(error.empty());
    }
}
