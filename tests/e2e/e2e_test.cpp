#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "ServerProcess.h"
#include "settings/SettingsRecord.h"

namespace ovrin::e2e {
namespace {

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteSettings(const std::string& path, int port, bool pttControl) {
    SettingsRecordBuffer r;
    r.Reserved1 = r.Reserved2 = std::string(20, ' ');
    r.Interbyte = ToField("100 mS", 7);
    r.Baud = ToField("9600", 6);
    r.DataBits = ToField("8", 1);
    r.Parity = ToField("None", 5);
    r.StopBits = ToField("2", 1);
    r.HostPort = ToField(std::to_string(port), 5);
    r.ListenAtStart = 1;
    r.ComPortName = ToField("COM1", 6);
    r.DTRFlag = r.RTSFlag = r.BridgeFlag = "0";
    r.ActiveInListenFlag = "1";
    r.PTTControlFlag = pttControl ? "1" : "0";
    std::ofstream(path, std::ios::binary) << r.Encode();
}

// The built program in a fresh folder, COM1 linked to a pseudo-terminal radio.
struct Running : ::testing::Test {
    PtyRadio radio;
    ServerProcess server;
    int port = 50000;

    void StartServer(bool pttControl = false) {
        server.LinkCom(1, radio.Device());
        // With no settings file the program listens on 50000; elsewhere in use, a
        // stored file names a free port instead.
        if (pttControl || !PortIsFree(port)) {
            if (!PortIsFree(port)) port = FreeTcpPort();
            WriteSettings(server.SettingsPath(), port, pttControl);
        }
        server.Start();
        ASSERT_TRUE(server.WaitListening(port, 10000)) << "server did not listen on " << port;
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
    EXPECT_TRUE(second.SeesEndWithin(2000));
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
        EXPECT_EQ(server.Close(5000), 0);
    }
    const Bytes atClose = ReadFile(server.SettingsPath());
    ASSERT_EQ(atClose.size(), 1033u);
    EXPECT_EQ(atClose[65], 1);  // ON-LINE is stored as Listen
    EXPECT_EQ(atClose.substr(60, 5), std::to_string(port).append(5 - std::to_string(port).size(), ' '));
}

}  // namespace
}  // namespace ovrin::e2e
