// The built program, headless, in a fresh folder: a pseudo-terminal radio, real TCP
// clients, and what it says and leaves behind.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

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
    for (const auto start = Clock::now(); !done(); SleepMs(10))
        if (MsSince(start) > ms) return false;
    return true;
}

TEST(CommandLine, HelpVersionAndBadValuesEndAtOnceStartingAndWritingNothing) {
    const struct {
        std::vector<std::string> args;
        int status;
        std::string says;
    } rows[] = {
        {{"--help"}, 0, "Usage: ovrin-server [--headless]"},
        {{"--version"}, 0, "Ovrin-Server v1.10.01\n"},
        {{"--headless", "--port", "70000"}, 2, "ovrin-server: --port 70000: not a TCP port"},
        {{"--bind", "192.168.1"}, 2, "ovrin-server: --bind 192.168.1: not an IP address"},
        {{"--headless", "--bind", "::ffff:127.0.0.1"}, 2, "ovrin-server: --bind ::ffff:127.0.0.1: an IPv4 address"},
        {{"--headless", "--bind", "224.0.0.1"}, 2, "ovrin-server: --bind 224.0.0.1: a multicast"},
        {{"--headless", "--config-dir", "/dev/null/radio"}, 2, "ovrin-server: --config-dir /dev/null/radio: "},
        {{"--headless", "--com", "/dev/ttyUSB0", "--line", "9600,x,8,2"}, 2, "ovrin-server: --line 9600,x,8,2: "},
        {{"--headless", "--allow", "10.0.0.0/8,10.1"}, 2, "ovrin-server: --allow 10.0.0.0/8,10.1: \"10.1\""},
    };
    TempDir folder("options"), out("options-out");
    fs::copy_file(OVRIN_SERVER_PATH, folder.Path() + "/ovrin-server");
    for (const auto& row : rows) {
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
        EXPECT_TRUE(row.status == 0 || Count(text, "\n") == 1) << text;  // a bad value: one line
        EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path()), {}), 1) << "a file was written";
    }
}

// As a radio on a 9600-baud line (8N2) sends: one byte every 1.15 ms.
void PacedWrite(PtyRadio& radio, const Bytes& data) {
    const auto start = Clock::now();
    for (std::size_t i = 0; i < data.size(); ++i) {
        radio.Write(data.substr(i, 1));
        SleepMs(static_cast<double>(i + 1) * 11000.0 / 9600.0 - MsSince(start));
    }
}

// One run as an operator meets it, ended as at logout. The settings and the COM
// links are in the folder given; the TCP port and COM2 given for the run win over
// the stored ones; clients reach one address only. The port is taken by another
// program at first: Listen is tried again until it is free. Nobody answers the RTS
// question: it is logged and answered No; nothing waits.
TEST(Running, ClientsAreServedByteForByteUnattendedAndASignalSavesTheSettings) {
    ServerProcess server{OVRIN_SERVER_PATH};
    TempDir config("config");
    auto radio = std::make_unique<PtyRadio>();
    const std::string com2 = config.Path() + "/dosdevices/com2";
    fs::create_directory(config.Path() + "/dosdevices");
    fs::create_symlink(radio->Device(), com2);
    server.WriteSettings(50000);
    fs::rename(server.SettingsPath(), config.Path() + "/Ovrin-Bridge.ini");
    const int port = FreeTcpPort();
    const int other = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{AF_INET, htons(static_cast<uint16_t>(port)), {}, {}};
    ASSERT_EQ(bind(other, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(other, 1), 0);
    server.Start(
        {"--config-dir", config.Path(), "--port", std::to_string(port), "--com", "COM2", "--bind", "127.0.0.1"});
    ASSERT_TRUE(Within(10000, [&] { return Count(server.Log(), "Host Port Active") > 0; })) << server.Log();
    close(other);
    ASSERT_TRUE(WaitListening(port, 10000)) << server.Log();
    std::string address;
    ListeningInode(port, &address);
    EXPECT_EQ(address, "0100007F");

    auto client = std::make_unique<TcpClient>(port);
    client->Send("FA;");
    EXPECT_EQ(radio->Read(3, 3000), "FA;");
    radio->Write("FA;");  // the echo of a one-wire bus
    SleepMs(150);
    radio->Write("FA00014074000;");
    EXPECT_EQ(client->Read(14, 3000), "FA00014074000;");  // a late echo would show in the next read
    const Bytes unasked = "IF00014074000     +000000000020000000;";
    client->Send("AI2;");  // auto-information on: the radio reports without being asked
    ASSERT_EQ(radio->Read(4, 3000), "AI2;");
    PacedWrite(*radio, unasked);
    EXPECT_EQ(client->Read(unasked.size(), 3000), unasked);
    Bytes up;
    for (int i = 0; i < 256; ++i) up += static_cast<char>(i);
    const Bytes down(up.rbegin(), up.rend());
    client->Send(up);
    EXPECT_EQ(radio->Read(up.size(), 3000), up);
    radio->Write(down);
    EXPECT_EQ(client->Read(down.size(), 3000), down);

    client->Send("\x1B\x1B" "ATH1");
    SleepMs(100);
    client->Send("\x1B\x1B" "ATH0" "ID;");
    EXPECT_EQ(radio->Read(3, 3000), "ID;");
    TcpClient second(port);
    EXPECT_TRUE(second.WaitEnd(10000));
    radio->Write("ID019;");
    EXPECT_EQ(client->Read(6, 3000), "ID019;");
    for (int i = 0; i < 10; ++i) {  // gone and back at once, its close not yet handled
        client->Close();
        client = std::make_unique<TcpClient>(port);
        client->Send("MD;");
        EXPECT_EQ(radio->Read(3, 3000), "MD;") << i;
    }
    radio = std::make_unique<PtyRadio>();  // switched off, and on again under the same name
    fs::remove(com2);
    fs::create_symlink(radio->Device(), com2);
    ASSERT_TRUE(Within(5000, [&] { return Count(server.Log(), "is back and open again") > 0; })) << server.Log();
    client->Send("FA;");
    EXPECT_EQ(radio->Read(3, 3000), "FA;");

    EXPECT_EQ(server.Terminate(10000), 0);
    EXPECT_TRUE(client->WaitEnd(0));
    const Bytes saved = ReadFile(config.Path() + "/Ovrin-Bridge.ini");
    ASSERT_EQ(saved.size(), 1033u);
    EXPECT_EQ(saved[65], 1);  // ON-LINE is stored as Listen
    EXPECT_EQ(saved.substr(60, 5) + saved.substr(67, 6), std::to_string(port) + "COM2  ");
    const std::string log = server.Log();
    EXPECT_EQ(Count(log, "Host Port Active: Host Port " + std::to_string(port)), 1) << log;
    EXPECT_EQ(Count(log, "once during this session.) [answered No]"), 1) << log;
    EXPECT_FALSE(fs::exists(server.SettingsPath()));
}

}  // namespace
}  // namespace ovrin::bench
