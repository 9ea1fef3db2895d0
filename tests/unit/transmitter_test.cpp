// The transmitter is keyed only when a client asks, and drops whenever it is told.
#include <gtest/gtest.h>

#include "app/Lifecycle.h"
#include "serial/Ptt.h"
#include "serial/SerialPort.h"
#include "sim/SimPlatform.h"
#include "ui/ConnectionStatus.h"

namespace ovrin {
namespace {

using sim::SimApp;

const Bytes kKey = "\x1B\x1B" "ATH1";
const Bytes kRelease = "\x1B\x1B" "ATH0";

// Every RTS level the port ever had while open, and at each close.
bool RtsEverHigh(const sim::SimComm& com) {
    for (bool on : com.rtsHistory)
        if (on) return true;
    for (bool on : com.rtsAtClose)
        if (on) return true;
    return com.PortOpen() && com.RTSEnable();
}

TEST(Transmitter, YesToTheQuestionThenARestartNeverOpensThePortKeyed) {
    SimApp first;
    first.Load();
    ASSERT_TRUE(first.sockets.RequestConnection());
    first.dialogs.Answer(MsgResult::Yes);
    first.sockets.ClientSends(1, kKey);
    ASSERT_TRUE(first.com.RTSEnable());
    first.f.Form.Unload();

    SimApp next;
    next.host.files = first.host.files;
    next.Load();
    ASSERT_TRUE(next.sockets.RequestConnection());
    EXPECT_EQ(next.f.chkCtrlPTT.Value(), 1);
    EXPECT_EQ(next.f.chkRTS.Value(), 0);
    EXPECT_FALSE(RtsEverHigh(next.com));
}

// Records written by any version: RTS control stored on always comes back on,
// with "RTS:" off and the port opening with RTS low.
TEST(Transmitter, StoredRtsControlLoadsWithRtsLow) {
    struct Row {
        const char *rts, *activeInListen;
    };
    SimApp firstRun;
    firstRun.Load();
    const Bytes defaults = firstRun.host.files.at(firstRun.SettingsPath());
    for (const Row row : {Row{"0", "1"}, Row{"1", "1"}, Row{"1", "0"}, Row{"0", "0"}}) {
        SimApp app;
        auto r = SettingsRecordBuffer::Decode(defaults);
        r.RTSFlag = row.rts;
        r.ActiveInListenFlag = row.activeInListen;
        r.PTTControlFlag = "1";
        app.host.files[app.SettingsPath()] = r.Encode();
        app.Load();
        ASSERT_TRUE(app.sockets.RequestConnection());
        SCOPED_TRACE(std::string("RTS ") + row.rts + ", kept open " + row.activeInListen);
        EXPECT_EQ(app.f.chkCtrlPTT.Value(), 1);
        EXPECT_EQ(app.f.chkRTS.Value(), 0);
        EXPECT_FALSE(RtsEverHigh(app.com));
    }
}

TEST(Transmitter, PortNeverOpensWithRtsRaisedWhileRtsControlIsOn) {
    SimApp app;
    app.f.cboConn.SetText("Listen");  // no cross-checks outside Off-line
    app.f.chkRTS.SetValue(1);
    app.f.chkCtrlPTT.SetValue(1);
    bool failed = true;
    OpenComPort(app.f, failed);
    ASSERT_FALSE(failed);
    EXPECT_FALSE(app.com.RTSEnable());
}

struct Client : ::testing::Test {
    SimApp app;
    void SetUp() override {
        app.Load();
        app.f.chkCtrlPTT.SetValue(1);
        ASSERT_TRUE(app.sockets.RequestConnection());
    }
    void Send(const Bytes& data) { app.sockets.ClientSends(1, data); }
};

// Commands are found wherever they stand in a read; the bytes around them go to
// the radio unchanged and in order; a command is never written.
TEST_F(Client, CommandsAreObeyedWhereverTheyStandInARead) {
    struct Row {
        std::vector<Bytes> reads;
        Bytes radio;
        std::vector<bool> rts;
    };
    const Row rows[] = {
        {{kKey}, "", {true}},
        {{"FA;" + kKey}, "FA;", {true}},
        {{kKey + "\r"}, "\r", {true}},
        {{kKey + kRelease}, "", {true, false}},
        {{"FA;" + kKey + "IF;" + kRelease + "MD;"}, "FA;IF;MD;", {true, false}},
        {{"\x1B\x1B" "ATH2" "ID;"}, "ID;", {}},
        {{"\x1B\x1B" "ath1"}, "\x1B\x1B" "ath1", {}},
        {{"FA;\x1B\x1B" "AT", "H1IF;"}, "FA;IF;", {true}},  // split over two reads
        {{"\x1B", "\x1B" "ATH0"}, "", {false}},
        {{"\x1B\x1B" + kKey + "ATH0"}, "", {true, false}},  // one taken out brings another together
    };
    for (const Row& row : rows) {
        SimApp& a = app;
        a.com.writes.clear();
        a.com.rtsHistory.clear();
        for (const Bytes& read : row.reads) Send(read);
        a.clock.Advance(0);
        SCOPED_TRACE(::testing::PrintToString(row.reads));
        EXPECT_EQ(a.com.Written(), row.radio);
        EXPECT_EQ(a.com.rtsHistory, row.rts);
        ReleasePTT(a.f);
    }
}

TEST_F(Client, AHeldCommandStartIsDataWhenNothingFollows) {
    Send("ID;\x1B\x1B");
    EXPECT_EQ(app.com.Written(), "ID;");
    app.clock.Advance(app.f.tmrPttHold.Interval());
    EXPECT_EQ(app.com.Written(), "ID;\x1B\x1B");
    EXPECT_FALSE(app.f.tmrPttHold.Enabled());
}

// RTS is down once the clients have gone, and before the port closes, whichever way.
TEST(Transmitter, RtsDropsBeforeEveryClose) {
    struct Path {
        const char* name;
        int keptOpen;
        std::function<void(SimApp&)> close;
    };
    const Path paths[] = {
        {"last client gone", 0, [](SimApp& a) { a.sockets.PeerCloses(1); }},
        {"last client gone, port kept open", 1, [](SimApp& a) { a.sockets.PeerCloses(1); }},
        {"Off-line", 1, [](SimApp& a) { a.f.cboConn.SetListIndex(0); }},
        {"window closed", 1, [](SimApp& a) { a.f.Form.Unload(); }},
        {"picture clicked, Yes", 1,
         [](SimApp& a) {
             a.dialogs.Answer(MsgResult::Yes);
             imgConn_Click(a.f);
         }},
    };
    for (const Path& path : paths) {
        SimApp app;
        app.Load();
        app.f.chkComPortActiveInListen.SetValue(path.keptOpen);  // while listening: no cross-checks
        ASSERT_TRUE(app.sockets.RequestConnection());
        KeyPTT(app.f);
        ASSERT_TRUE(app.com.RTSEnable());
        path.close(app);
        SCOPED_TRACE(path.name);
        EXPECT_FALSE(app.com.RTSEnable());
        for (bool high : app.com.rtsAtClose) EXPECT_FALSE(high);
        EXPECT_FALSE(app.f.tmrPTT.Enabled());
        EXPECT_EQ(app.f.chkCtrlPTT.BackColor(), kColourButtonFace);
    }
}

TEST(Transmitter, PortListOpensNoPort) {
    SimApp app;
    app.com.existing = {2, 5, 16, 17};
    ListComPorts(app.f);
    ASSERT_EQ(app.f.cboComPort.ListCount(), 3);
    EXPECT_EQ(app.f.cboComPort.List(0) + app.f.cboComPort.List(1) + app.f.cboComPort.List(2), "COM2COM5COM16");
    EXPECT_EQ(app.f.cboComPort.ItemToolTip(1), "/dev/sim5");
    EXPECT_EQ(app.f.cboComPort.Text(), "COM1");
    EXPECT_EQ(app.com.opens, 0);
}

}  // namespace
}  // namespace ovrin
