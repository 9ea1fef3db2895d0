#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "Harness.h"

namespace ovrin::bench {
namespace {

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// The built program in a fresh folder, COM1 linked to a pseudo-terminal radio.
struct Running : ::testing::Test {
    PtyRadio radio;
    ServerProcess server{OVRIN_SERVER_PATH};
    int port = 50000;

    void StartServer(bool pttControl = false) {
        server.LinkCom(1, radio.Device());
        // With no settings file the program listens on 50000; elsewhere in use, a
        // stored file names a free port instead.
        if (pttControl || IsListening(port)) {
            if (IsListening(port)) port = FreeTcpPort();
            server.WriteSettings(port);
            if (pttControl) {
                std::fstream file(server.SettingsPath(), std::ios::in | std::ios::out | std::ios::binary);
                // RTS and "Com Port active in Listen Mode" off, "Control RTS as PTT"
                // on: the stored boxes survive the check-box rules, so no question.
                file.seekp(74);
                file.write("001", 3);
            }
        }
        server.Start();
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

TEST_F(Running, SettingsFileIsWrittenAtStartAndRewrittenOnClose) {
    StartServer();
    const Bytes atStart = ReadFile(server.SettingsPath());
    ASSERT_EQ(atStart.size(), 1033u);
    EXPECT_EQ(atStart[65], 1);  // listening
    std::filesystem::remove(server.SettingsPath());
    {
        TcpClient client(port);
        ASSERT_TRUE(client.Connected());
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_EQ(server.Terminate(5000), 0);
    }
    const Bytes atClose = ReadFile(server.SettingsPath());
    ASSERT_EQ(atClose.size(), 1033u);
    EXPECT_EQ(atClose[65], 1);  // ON-LINE is stored as Listen
    EXPECT_EQ(atClose.substr(60, 5), std::to_string(port).append(5 - std::to_string(port).size(), ' '));
}

}  // namespace
}  // namespace ovrin::bench
