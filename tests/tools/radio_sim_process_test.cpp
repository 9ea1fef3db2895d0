// Runs the simulator program and talks to it through the pseudo-terminal it prints.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

#include "Harness.h"

namespace {

using namespace ovrin::bench;
namespace fs = std::filesystem;

// Opened as a client would, without setting the line up (the simulator made it
// raw): writes `send`, then reads until `expected` bytes came or 3 s passed.
std::string Exchange(const std::string& device, const std::string& send, std::size_t expected) {
    const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0 || write(fd, send.data(), send.size()) != static_cast<ssize_t>(send.size())) return "(no device)";
    std::string got;
    char buffer[512];
    for (const auto start = Clock::now(); got.size() < expected && MsSince(start) < 3000;) {
        pollfd p{fd, POLLIN, 0};
        const ssize_t n = poll(&p, 1, 10) > 0 ? read(fd, buffer, sizeof buffer) : 0;
        if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    return got;
}

TEST(RadioSimProcess, AnswersOrLoopsBackOnThePrintedDeviceAndTakesItsLinkAlongOnSigterm) {
    TempDir folder("radio-sim");
    const fs::path link = fs::path(folder.Path()) / "dosdevices" / "com1";
    fs::create_directories(link.parent_path());
    fs::create_symlink("/dev/pts/does-not-exist", link);  // stale, from a run that crashed
    Child radio({OVRIN_RADIO_SIM, "--delay", "0", "--link", link.string()}, "", true);
    Child loopback({OVRIN_RADIO_SIM, "--mode", "loopback"}, "", true);
    const std::string device = radio.ReadLine(5000);
    EXPECT_EQ(fs::read_symlink(link), device);
    EXPECT_EQ(Exchange(device, "FA;", 14), "FA00014074000;");
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    EXPECT_EQ(Exchange(loopback.ReadLine(5000), all, all.size()), all);
    EXPECT_EQ(radio.Terminate(3000), 0);
    EXPECT_FALSE(fs::is_symlink(link));
}

std::string Hex(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); i += 3)
        out += static_cast<char>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16));
    return out;
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(RadioSimProcess, EachFamilyAnswersWithItsEchoLogsWhenTheTransmitterIsKeyedAndReleasedAndCountsItsCommands) {
    struct Case {
        std::vector<std::string> args;
        std::string send, expect;
        std::string counts;  // --stats, by the command's name
    };
    const std::string key = Hex("FE FE 94 E0 1C 00 01 FD"), release = Hex("FE FE 94 E0 1C 00 00 FD");
    const std::string ok = Hex("FE FE E0 94 FB FD");
    const Case cases[] = {
        {{}, "TX;FA;RX;FA;ZZ;", "FA00014074000;FA00014074000;?;", "FA 2\nRX 1\nTX 1\nZZ 1\n"},
        // CI-V: the one-wire bus brings every frame back first, unless told otherwise.
        {{"--family", "civ"}, key + release, key + release + ok + ok, "1C 2\n"},
        {{"--family", "civ", "--no-echo", "--civ-address", "70"}, Hex("FE FE 70 E0 1C 00 01 FD FE FE 70 E0 1C 00 00 FD"),
         Hex("FE FE E0 70 FB FD FE FE E0 70 FB FD"), "1C 2\n"},
        {{"--family", "ft817"}, Hex("00 00 00 00 08 00 00 00 00 F7 00 00 00 00 88"), Hex("00 00 00"),
         "08 1\n88 1\nF7 1\n"},
    };
    TempDir folder("radio-sim");
    for (const Case& c : cases) {
        const std::string log = folder.Path() + "/radio.log", stats = folder.Path() + "/radio.stats";
        fs::remove(log);
        fs::remove(stats);
        std::vector<std::string> argv = {OVRIN_RADIO_SIM, "--delay", "0", "--log", log, "--stats", stats};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        Child radio(argv, "", true);
        EXPECT_EQ(Exchange(radio.ReadLine(5000), c.send, c.expect.size()), c.expect) << c.send;
        // Written on SIGUSR1, and again at exit.
        kill(radio.Pid(), SIGUSR1);
        for (const auto start = Clock::now(); !fs::exists(stats) && MsSince(start) < 3000;) usleep(10'000);
        EXPECT_EQ(Slurp(stats), c.counts) << c.send;
        fs::remove(stats);
        EXPECT_EQ(radio.Terminate(3000), 0);
        EXPECT_EQ(Slurp(stats), c.counts) << "at exit";
        const std::string text = Slurp(log);
        const auto on = text.find("    PTT on\n"), off = text.find("    PTT off\n");
        EXPECT_TRUE(on != std::string::npos && off != std::string::npos && on < off) << text;
    }
}

TEST(RadioSimProcess, ASlowCommandHoldsTheAnswersBehindItAndTheKnobIsReportedWithAutoInformationOn) {
    Child radio({OVRIN_RADIO_SIM, "--delay", "0", "--slow", "fa:300", "--knob", "100"}, "", true);
    const std::string device = radio.ReadLine(5000);
    const auto start = Clock::now();
    const std::string answers = Exchange(device, "FA;ID;", 20);
    EXPECT_GE(MsSince(start), 300);
    EXPECT_EQ(answers.substr(0, 9) + answers.substr(14), "FA0001407ID019;");
    const std::string reports = Exchange(device, "AI1;", 14 + 38);
    EXPECT_EQ(reports.substr(0, 9) + reports.substr(14, 4), "FA0001407IF00") << reports;
}

}  // namespace
