#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

#include "Harness.h"

namespace ovrin::bench {
namespace {

namespace fs = std::filesystem;

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

long Count(const std::string& text, const std::string& part) {
    long n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

template <typename Condition>
bool Within(int ms, Condition done) {
    const auto start = Clock::now();
    while (!done()) {
        if (MsSince(start) > ms) return false;
        SleepMs(10);
    }
    return true;
}

TEST(CommandLine, HelpVersionAndBadValuesEndAtOnceStartingAndWritingNothing) {
    struct Row {
        std::vector<std::string> args;
        int status;
        std::string says;
    } rows[] = {
        {{"--help"}, 0, "Usage: ovrin-server [--headless]"},
        {{"--version"}, 0, "Ovrin-Server v1.10.01\n"},
        {{"--headless", "--port", "70000"}, 2, "ovrin-server: --port 70000: not a TCP port"},
        {{"--bind", "192.168.1"}, 2, "ovrin-server: --bind 192.168.1: not an IP address"},
        {{"--headless", "--config-dir", "/dev/null/radio"}, 2, "ovrin-server: --config-dir /dev/null/radio: "},
    };
    TempDir folder("options"), out("options-out");
    fs::copy_file(OVRIN_SERVER_PATH, folder.Path() + "/ovrin-server");
    for (const Row& row : rows) {
        std::vector<std::string> argv{folder.Path() + "/ovrin-server"};
        argv.insert(argv.end(), row.args.begin(), row.args.end());
        const std::string said = out.Path() + "/said";
        fs::remove(said);
        // No display at all: the window's toolkit would abort if it were started.
        Child child(argv, said, false, {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"});
        ASSERT_TRUE(Within(5000, [&] { return !child.Running(); })) << row.args[0];
        EXPECT_EQ(child.ExitStatus(), row.status) << row.args[0];
        const std::string text = ReadFile(said);
        EXPECT_NE(text.find(row.says), std::string::npos) << text;
        if (row.status != 0) {
            EXPECT_EQ(Count(text, "\n"), 1) << text;  // one line
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path()), {}), 1) << "a file was written";
    }
}

// The built program in a fresh folder, COM1 linked to a pseudo-terminal radio.
struct Running : ::testing::Test {
    PtyRadio radio;
    ServerProcess server{OVRIN_SERVER_PATH};
    int port = FreeTcpPort();

    // Without a settings file unless `pttControl`; the port is given for the run, as
    // 50000 may be taken by another server on this machine at any moment.
    void StartServer(bool pttControl = false) {
        server.LinkCom(1, radio.Device());
        if (pttControl) {
            server.WriteSettings(port);
            std::fstream file(server.SettingsPath(), std::ios::in | std::ios::out | std::ios::binary);
            // RTS and "Com Port active in Listen Mode" off, "Control RTS as PTT"
            // on: the stored boxes survive the check-box rules, so no question.
            file.seekp(74);
            file.write("001", 3);
        }
        server.Start({"--port", std::to_string(port)});
        ASSERT_TRUE(WaitListening(port, 10000)) << "server did not listen on " << port;
    }
};

TEST_F(Running, CommandsReachTheRadioUnchangedAndAnswersComeBackWithoutTheEcho) {
    StartServer();
    TcpClient client(port);
    ASSERT_TRUE(client.Connected());
    client.Send("FA;");
    EXPECT_EQ(radio.Read(3, 3000), "FA;");
    radio.Write("FA;");  // the echo of a one-wire bus
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    radio.Write("FA00014074000;");
    EXPECT_EQ(client.Read(14, 3000), "FA00014074000;");
    EXPECT_EQ(client.Read(1, 200), "");
}

// As a radio on a 9600-baud line (8N2) sends: one byte every 1.15 ms.
void PacedWrite(PtyRadio& radio, const Bytes& data) {
    const auto start = Clock::now();
    for (std::size_t i = 0; i < data.size(); ++i) {
        radio.Write(data.substr(i, 1));
        SleepMs(static_cast<double>(i + 1) * 11000.0 / 9600.0 - MsSince(start));
    }
}

TEST_F(Running, PacedAnswersAndUnaskedOutputArriveComplete) {
    StartServer();
    TcpClient client(port);
    ASSERT_TRUE(client.Connected());
    const Bytes unasked = "IF00014074000     +000000000020000000;", answer = "FA00014074000;";
    client.Send("AI2;");  // auto-information on: the radio reports without being asked
    ASSERT_EQ(radio.Read(4, 3000), "AI2;");
    for (int i = 0; i < 3; ++i) {
        PacedWrite(radio, unasked);
        EXPECT_EQ(client.Read(unasked.size(), 3000), unasked);
        client.Send("FA;");
        ASSERT_EQ(radio.Read(3, 3000), "FA;");
        PacedWrite(radio, answer);
        EXPECT_EQ(client.Read(answer.size(), 3000), answer);
    }
}

TEST_F(Running, AllByteValuesPassBothWays) {
    StartServer();
    TcpClient client(port);
    ASSERT_TRUE(client.Connected());
    Bytes up, down;
    for (int i = 0; i < 256; ++i) {
        up += static_cast<char>(i);
        down += static_cast<char>(255 - i);
    }
    client.Send(up);
    EXPECT_EQ(radio.Read(up.size(), 3000), up);
    radio.Write(down);
    EXPECT_EQ(client.Read(down.size(), 3000), down);
}

TEST_F(Running, PttCommandsNeverReachTheRadio) {
    StartServer(/*pttControl=*/true);
    TcpClient client(port);
    ASSERT_TRUE(client.Connected());
    client.Send("\x1B\x1B" "ATH1");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    client.Send("\x1B\x1B" "ATH0");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    client.Send("ID;");
    EXPECT_EQ(radio.Read(3, 3000), "ID;");
}

TEST_F(Running, SecondClientIsRefusedWhileTheFirstKeepsWorking) {
    StartServer();
    TcpClient first(port);
    ASSERT_TRUE(first.Connected());
    first.Send("ID;");
    ASSERT_EQ(radio.Read(3, 3000), "ID;");
    TcpClient second(port);
    EXPECT_TRUE(second.WaitEnd(2000));
    radio.Write("ID019;");
    EXPECT_EQ(first.Read(6, 3000), "ID019;");
}

struct Ending : Running, ::testing::WithParamInterface<int> {};

TEST_P(Ending, SignalClosesTheClientAndSavesTheSettingsWithinASecond) {
    StartServer();
    const Bytes atStart = ReadFile(server.SettingsPath());
    ASSERT_EQ(atStart.size(), 1033u);
    EXPECT_EQ(atStart[65], 1);  // listening
    std::filesystem::remove(server.SettingsPath());
    {
        TcpClient client(port);
        ASSERT_TRUE(client.Connected());
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_EQ(server.Terminate(1000, GetParam()), 0);
        EXPECT_TRUE(client.WaitEnd(0));
    }
    const Bytes atClose = ReadFile(server.SettingsPath());
    ASSERT_EQ(atClose.size(), 1033u);
    EXPECT_EQ(atClose[65], 1);  // ON-LINE is stored as Listen
    EXPECT_EQ(atClose.substr(60, 5), std::to_string(port).append(5 - std::to_string(port).size(), ' '));
}

INSTANTIATE_TEST_SUITE_P(Signals, Ending, ::testing::Values(SIGTERM, SIGINT, SIGHUP));

// Nobody answers: the port in use at start is tried again until it is free, the
// settings that cannot be saved and the RTS question are log lines, nothing waits.
TEST_F(Running, WithoutAWindowNoBoxWaitsAndListenIsTriedUntilThePortIsFree) {
    server.LinkCom(1, radio.Device());
    const int other = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    ASSERT_EQ(bind(other, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(other, 1), 0);
    fs::create_directory(server.SettingsPath() + ".new");  // no settings can be saved
    server.Start({"--port", std::to_string(port)});
    ASSERT_TRUE(Within(10000, [&] { return Count(server.Log(), "Host Port Active") > 0; })) << server.Log();
    close(other);
    ASSERT_TRUE(WaitListening(port, 10000)) << server.Log();
    TcpClient client(port);
    client.Send("\x1B\x1B" "ATH1");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    client.Send("ID;");
    EXPECT_EQ(radio.Read(3, 3000), "ID;");
    EXPECT_EQ(server.Terminate(1000), 0);
    const std::string log = server.Log();
    EXPECT_EQ(Count(log, "Host Port Active: Host Port " + std::to_string(port)), 1) << log;
    EXPECT_EQ(Count(log, "Save Initialize File Error: "), 2) << log;  // at start and at the end
    EXPECT_EQ(Count(log, "Enable Hardware Control: "), 1) << log;
    EXPECT_EQ(Count(log, "once during this session.) [answered No]"), 1) << log;
}

TEST_F(Running, ConfigDirHoldsSettingsAndComLinksAndBindTakesOneAddress) {
    TempDir config("config");
    fs::create_directory(config.Path() + "/dosdevices");
    fs::create_symlink(radio.Device(), config.Path() + "/dosdevices/com1");
    server.Start({"--config-dir", config.Path(), "--port", std::to_string(port), "--bind", "127.0.0.1"});
    ASSERT_TRUE(WaitListening(port, 10000)) << server.Log();
    std::string address;
    ListeningInode(port, &address);
    EXPECT_EQ(address, "0100007F");
    TcpClient client(port);
    client.Send("FA;");
    EXPECT_EQ(radio.Read(3, 3000), "FA;");
    EXPECT_EQ(server.Terminate(3000), 0);
    EXPECT_EQ(ReadFile(config.Path() + "/Ovrin-Bridge.ini").size(), 1033u);
    EXPECT_FALSE(fs::exists(server.SettingsPath()));
}

}  // namespace
}  // namespace ovrin::bench
