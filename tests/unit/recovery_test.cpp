// The server recovers by itself and says why.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/FileHost.h"
#include "serial/Ptt.h"
#include "sim/SimPlatform.h"

namespace ovrin {
namespace {

using sim::SimApp;

struct Station : ::testing::Test {
    SimApp app;
    frmMain& f = app.f;
    void SetUp() override {
        app.Load();
        ASSERT_TRUE(app.sockets.RequestConnection("198.51.100.7"));
    }
};

TEST_F(Station, AClientThatLeftIsSettledBeforeANewOneIsRefused) {
    KeyPTT(f);
    app.Client(1).rx = "TX0;";  // sent just before it went
    app.Client(1).peerGone = true;  // its close event not yet delivered
    ASSERT_TRUE(app.sockets.RequestConnection("198.51.100.8"));
    EXPECT_EQ(app.Client(1).RemoteHostIP(), "198.51.100.8");
    EXPECT_EQ(app.com.Written(), "TX0;");
    EXPECT_FALSE(app.com.RTSEnable());
    EXPECT_TRUE(app.log.Has({"198.51.100.7", "left"}));
    // A live client still keeps a second one out.
    EXPECT_FALSE(app.sockets.RequestConnection("198.51.100.9"));
    EXPECT_TRUE(app.log.Has({"198.51.100.9", "refused", "another client is connected"}));
}

TEST_F(Station, ALostDeviceIsTriedEverySecondAndTheClientServedWhenItIsBack) {
    f.chkCtrlPTT.SetValue(1);
    KeyPTT(f);
    app.com.Unplug("/dev/sim1: the device is gone");
    EXPECT_FALSE(f.tmrPTT.Enabled());
    EXPECT_EQ(f.chkCtrlPTT.BackColor(), kColourButtonFace);
    EXPECT_TRUE(app.log.Has({"COM1 (/dev/sim1) lost", "the device is gone"}));
    EXPECT_NE(f.imgConn.ToolTip().find("lost"), std::string::npos);
    EXPECT_NE(f.cboConn.ToolTip().find("lost"), std::string::npos);
    const std::size_t lines = app.log.lines.size();
    const int opens = app.com.opens;

    app.sockets.ClientSends(1, "FA;");  // dropped, as for a closed port
    app.clock.Advance(2500);
    EXPECT_EQ(app.com.opens, opens);
    EXPECT_EQ(app.log.lines.size(), lines);  // the tries are quiet
    app.com.Replug();
    app.clock.Advance(1000);
    ASSERT_TRUE(app.com.PortOpen());
    EXPECT_EQ(f.cboConn.ToolTip(), kConnToolTip);
    EXPECT_TRUE(app.log.Has({"COM1 (/dev/sim1) is back"}));
    EXPECT_TRUE(app.com.writes.empty());

    app.clock.Advance(3000);  // the dropped command's turn lapses
    app.sockets.ClientSends(1, "FA;");
    app.com.RadioSends("FA00014074000;");
    app.clock.Advance(100);
    EXPECT_EQ(app.com.Written(), "FA;");
    EXPECT_EQ(app.Client(1).sent, "FA00014074000;");
    EXPECT_FALSE(f.tmrReopen.Enabled());
}

TEST_F(Station, NoRetriesOnceNobodyNeedsThePort) {
    f.chkComPortActiveInListen.SetValue(0);
    app.com.Unplug();
    EXPECT_TRUE(f.tmrReopen.Enabled());
    app.sockets.PeerCloses(1);
    app.clock.Advance(1000);
    EXPECT_FALSE(f.tmrReopen.Enabled());
    EXPECT_FALSE(f.PortLost);
}

TEST(OpenFailures, NameTheDeviceAndTheReasonWithoutStackingBoxes) {
    SimApp app;
    app.com.existing.clear();
    app.Load();  // Listen with the port kept active: the open fails, Off-line
    frmMain& f = app.f;
    EXPECT_EQ(f.cboConn.Text(), "Off-line");
    EXPECT_TRUE(app.dialogs.shown.empty());
    EXPECT_TRUE(app.log.Has({"COM1 cannot be opened", "Invalid port number"}));
    EXPECT_NE(f.cboConn.ToolTip().find("COM1 cannot be opened: Invalid port number"), std::string::npos);
    EXPECT_EQ(f.imgConn.ToolTip(), "Serial port COM1 cannot be opened: Invalid port number");

    f.chkComPortActiveInListen.SetValue(0);
    f.cboConn.SetListIndex(1);
    // A second client connects while the first one's box is still open.
    app.dialogs.whileOpen = [&] { app.sockets.RequestConnection(); };
    EXPECT_FALSE(app.sockets.RequestConnection());
    ASSERT_EQ(app.dialogs.shown.size(), 1u);
    EXPECT_EQ(app.dialogs.shown[0].text, "Error opening COM1\r\rInvalid port number");
}

TEST(SettingsFile, APlantedLinkAtTheTemporaryNameIsNotFollowed) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("ovrin-save-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path victim = dir / "victim";
    std::ofstream(victim) << "keep";
    fs::create_symlink(victim, dir / "Ovrin-Bridge.ini.new");
    FileHost host(dir.string(), 1, 10, 1, {});
    host.WriteRecord((dir / "Ovrin-Bridge.ini").string(), Bytes(1033, 'x'));
    std::ifstream in(victim);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep");
    EXPECT_FALSE(fs::is_symlink(dir / "Ovrin-Bridge.ini"));
    EXPECT_EQ(fs::file_size(dir / "Ovrin-Bridge.ini"), 1033u);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace ovrin
