// The simulator's CAT side as pure functions: cutting the byte stream into
// commands, and the answers.
#include "Cat.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace ovrin::radiosim;
using Commands = std::vector<std::string>;

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

TEST(CatAnswer, ReadsSetsSilentlyReadsBackAndRejectsTheRest) {
    RadioState radio;
    EXPECT_EQ(Answer(radio, "FA;"), "FA00014074000;");
    EXPECT_EQ(Answer(radio, "MD;"), "MD2;");
    EXPECT_EQ(Answer(radio, "FA00007074000;"), "");
    EXPECT_EQ(Answer(radio, "MD3;"), "");
    EXPECT_EQ(Answer(radio, "FA;"), "FA00007074000;");
    EXPECT_EQ(Answer(radio, "MD;"), "MD3;");
    for (const char* bad : {"ZZ;", ";", "FA0001407400;", "FA000140740000;", "FA0001407400x;", "MD0;", "fa;"})
        EXPECT_EQ(Answer(radio, bad), "?;") << bad;
    EXPECT_EQ(Answer(radio, "FA;"), "FA00007074000;");  // a refused set changes nothing
}
