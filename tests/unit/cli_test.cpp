#include <gtest/gtest.h>

#include <filesystem>

#include "cli/CommandLine.h"

namespace ovrin::cli {
namespace {

std::string Describe(const Options& o) {
    std::string d;
    if (o.help) d += " help";
    if (o.version) d += " version";
    if (o.headless) d += " headless";
    if (o.hostPort) d += " port=" + *o.hostPort;
    if (o.comPort) d += " com=" + *o.comPort;
    if (o.bindAddress) d += " bind=" + *o.bindAddress;
    if (o.configDir) d += " dir=" + *o.configDir;
    return d;
}

TEST(CommandLine, EachOptionAndEachBadValue) {
    const struct {
        std::vector<std::string> args;
        std::string understood;  // when good
        std::string error;       // the start of the one line, when bad
    } rows[] = {
        {{"--headless", "--port", "50001", "--com", "com3", "--bind", "::1", "--config-dir", "/srv/radio"},
         " headless port=50001 com=COM3 bind=::1 dir=/srv/radio", ""},
        {{"--port=00080", "--com=COM16"}, " port=80 com=COM16", ""},
        {{"--port", "2", "--port", "65535"}, " port=65535", ""},
        {{"-h", "--version"}, " help version", ""},
        {{"--port", "0"}, "", "--port 0: not a TCP port"},
        {{"--port", "65536"}, "", "--port 65536: not a TCP port"},
        {{"--port", "12a"}, "", "--port 12a: not a TCP port"},
        {{"--port"}, "", "--port needs a value"},
        {{"--com", "COM0"}, "", "--com COM0: not a Com Port"},
        {{"--com", "COM17"}, "", "--com COM17: not a Com Port"},
        {{"--headless=yes"}, "", "--headless takes no value"},
        {{"-platform", "offscreen"}, "", "unknown option -platform"},
        {{"COM1"}, "", "unexpected argument COM1"},
    };
    for (const auto& row : rows) {
        const Parsed p = ParseOptions(row.args);
        SCOPED_TRACE(testing::PrintToString(row.args));
        EXPECT_EQ(p.error.substr(0, row.error.size()), row.error);
        EXPECT_EQ(p.error.empty(), row.error.empty());
        if (row.error.empty()) {
            EXPECT_EQ(Describe(p.options), row.understood);
        }
    }
}

TEST(CommandLine, SettingsFolderGivenElseProgramFolderWhenWritableElseTheUsersConfiguration) {
    Options given;
    given.configDir = "radio2/";
    EXPECT_EQ(SettingsFolder(given, "/opt/ovrin", true, "/xdg", "/home/op"),
              (std::filesystem::current_path() / "radio2").string());
#ifdef _WIN32
    GTEST_SKIP() << "the Windows program chooses %APPDATA% itself";
#endif
    const struct {
        bool writable;
        const char *xdg, *home, *folder;
    } rows[] = {
        {true, "/xdg", "/home/op", "/opt/ovrin"},
        {false, "/xdg", "/home/op", "/xdg/ovrin-server"},
        {false, "relative", "/home/op", "/home/op/.config/ovrin-server"},
        {false, "", "", "/opt/ovrin"},
    };
    for (const auto& r : rows) EXPECT_EQ(SettingsFolder({}, "/opt/ovrin", r.writable, r.xdg, r.home), r.folder);
}

}  // namespace
}  // namespace ovrin::cli
