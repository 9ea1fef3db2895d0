#include <gtest/gtest.h>

#include "net/Inbound.h"
#include "sim/SimPlatform.h"

namespace ovrin {
namespace {

using sim::SimApp;

const Bytes kKey = "\x1B\x1B" "ATH1";
const Bytes kRelease = "\x1B\x1B" "ATH0";

struct Client : ::testing::Test {
    SimApp app;
    frmMain& f = app.f;
    void SetUp() override {
        app.Load();
        ASSERT_TRUE(app.sockets.RequestConnection());
        app.com.writes.clear();
    }
    void Send(const Bytes& data, int16_t i = 1) { app.sockets.ClientSends(i, data); }
};

TEST_F(Client, QuestionAskedOnceYesObeysAtOnce) {
    f.chkRTS.SetValue(1);
    app.dialogs.Answer(MsgResult::Yes);
    Send(kKey);
    ASSERT_EQ(app.dialogs.shown.size(), 1u);
    const auto& box = app.dialogs.shown[0];
    EXPECT_EQ(box.title, "Enable Hardware Control");
    EXPECT_EQ(box.buttons, MsgButtons::YesNo);
    EXPECT_EQ(box.icon, MsgIcon::None);
    EXPECT_EQ(box.text,
              "A command has been received from the remote device to control RTS.\r\rDo you want to enable "
              "[Control RTS as PTT]?\r\r(You will only be asked this once during this session.)");
    EXPECT_EQ(f.chkCtrlPTT.Value(), 1);
    EXPECT_EQ(f.chkRTS.Value(), 0);
    EXPECT_EQ(f.chkComPortActiveInListen.Value(), 0);
    EXPECT_TRUE(app.com.RTSEnable());
    Send(kRelease);
    EXPECT_FALSE(app.com.RTSEnable());
    EXPECT_EQ(app.dialogs.shown.size(), 1u);
}

TEST_F(Client, QuestionAnsweredNoDropsEveryLaterCommandOfAnyClient) {
    f.chkBridge.SetValue(1);
    ASSERT_TRUE(app.sockets.RequestConnection());
    app.dialogs.Answer(MsgResult::No);
    // A second command arriving while the box is open raises no second question.
    app.dialogs.whileOpen = [&] { Send(kKey, 2); };
    Send(kKey);
    Send(kKey, 2);
    EXPECT_EQ(app.dialogs.shown.size(), 1u);
    EXPECT_FALSE(app.com.RTSEnable());
    EXPECT_EQ(f.chkCtrlPTT.Value(), 0);
    EXPECT_TRUE(app.com.writes.empty());
}

TEST_F(Client, YesObeysTheCommandAskedAboutEvenIfDataArrivedMeanwhile) {
    f.chkBridge.SetValue(1);
    ASSERT_TRUE(app.sockets.RequestConnection());
    app.dialogs.Answer(MsgResult::Yes);
    app.dialogs.whileOpen = [&] { Send("FA;", 2); };
    Send(kKey);
    EXPECT_TRUE(app.com.RTSEnable());
    EXPECT_EQ(app.com.writes, std::vector<Bytes>{"FA;"});  // written once, never again
}

TEST_F(Client, PttCommandReplacesTheEchoReference) {
    f.chkCtrlPTT.SetValue(1);
    Send("FA;");
    Send(kKey);
    app.com.RadioSends("FA;");
    app.clock.Advance(50);
    EXPECT_EQ(app.Client(1).sent, "FA;");
}

TEST_F(Client, EmptyOrFailedReadsChangeNothing) {
    f.LastClientData = "MD;";
    app.sockets.DataArrival(1, 0);
    app.Client(1).rx = "X;";
    app.Client(1).failRead = true;
    app.sockets.DataArrival(1, 2);
    EXPECT_EQ(f.LastClientData, "MD;");
    EXPECT_TRUE(app.com.writes.empty());
}

TEST_F(Client, LargeBlocksPassWholeAndUnchanged) {
    Bytes all;
    for (int i = 0; i < 40000; ++i) all += static_cast<char>(i * 31 % 256);
    Send(all);
    ASSERT_EQ(app.com.writes.size(), 1u);
    EXPECT_EQ(app.com.writes[0], all);
}

TEST_F(Client, FullSerialBacklogPausesReadingUntilItDrains) {
    app.com.backlog = kMaxSerialBacklog;
    Send("FA;");
    EXPECT_TRUE(app.com.writes.empty());
    Send("FB;");  // stays in the socket, behind the first
    app.clock.Advance(50);
    EXPECT_TRUE(app.com.writes.empty());
    app.com.LineDrains();  // read at once, not at the next tick
    EXPECT_EQ(app.com.writes, std::vector<Bytes>{"FA;FB;"});
}

}  // namespace
}  // namespace ovrin
