// Without a window: every box a log line with its safe answer, Listen selected again
// while Off-line, each change logged once however often it is tried.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/Lifecycle.h"
#include "app/ListenRetry.h"
#include "platform/headless/HeadlessDialogs.h"
#include "sim/SimPlatform.h"

namespace ovrin::headless {
namespace {

constexpr int kTry = ListenRetry::kIntervalMs;

struct Headless : ::testing::Test {
    sim::SimClock clock;
    sim::SimComm com;
    sim::SimSockets sockets;
    sim::SimHost host;
    sim::SimLog log;
    RepeatFilterLog filter{log};
    HeadlessDialogs dialogs{filter};
    frmMain f{com, sockets, dialogs, host, filter};
    ListenRetry retry{f, filter};

    Headless() {
        clock.BindAll(f);
        clock.Bind(retry.RetryTimer());
        WireEvents(f);
    }
};

TEST_F(Headless, BoxesAreLoggedWithSafeAnswersAndListenIsRetriedUntilItListens) {
    sockets.busyPorts.insert(50000);
    host.failWrite = true;
    Form_Load(f);
    retry.Check();
    clock.Advance(3 * kTry);
    EXPECT_EQ(f.cboConn.Text(), "Off-line");
    EXPECT_EQ(log.Count("Host Port Active: Host Port 50000 is connected to another application."), 1);
    EXPECT_EQ(log.Count("click"), 0);  // no button to click without a window
    // Nobody waits on the box, and its line would only repeat the log's.
    EXPECT_EQ(std::pair(log.Count("Settings not saved to"), log.Count("Save Initialize File Error")), std::pair(1, 0));
    EXPECT_EQ(log.Count("Off-line: selecting Listen every 5 s"), 1);

    sockets.busyPorts.clear();
    clock.Advance(kTry);
    EXPECT_EQ(std::tuple(sockets(0).State(), log.Count("Listening on TCP port 50000")), std::tuple(sckListening, 1));

    // A PTT command while "Control RTS as PTT" is off: the question is answered No.
    ASSERT_TRUE(sockets.RequestConnection());
    sockets.ClientSends(1, "\x1B\x1B" "ATH1");
    EXPECT_EQ(log.Count("Enable Hardware Control: A command has been received"), 1);
    EXPECT_TRUE(f.chkCtrlPTT.Value() == 0 && std::count(com.rtsHistory.begin(), com.rtsHistory.end(), true) == 0);

    // Off-line again, the port taken, then free while the serial port is missing:
    // each cause is logged once, then the server listens by itself.
    sockets.PeerCloses(1);
    sockets.busyPorts.insert(50000);
    f.cboConn.SetListIndex(0);
    clock.Advance(2 * kTry);
    EXPECT_EQ(log.Count("Host Port Active"), 2);
    com.existing.clear();
    sockets.busyPorts.clear();
    clock.Advance(3 * kTry);
    EXPECT_EQ(std::tuple(log.Count("COM1 cannot be opened"), f.cboConn.Text()), std::tuple(1, "Off-line"));
    com.existing.insert(1);
    clock.Advance(kTry);
    EXPECT_EQ(std::pair(log.Count("Listening on TCP port 50000"), com.PortOpen()), std::pair(2, true));

    // A client while the serial port is missing: refused, the reason logged once.
    f.cboConn.SetListIndex(0);
    f.chkComPortActiveInListen.SetValue(0);
    com.existing.clear();
    clock.Advance(kTry);
    EXPECT_FALSE(sockets.RequestConnection());
    EXPECT_EQ(log.Count("refused: the serial port cannot be opened"), 1);
    // Nothing a headless server says points at the window's buttons, or says a
    // thing twice over.
    for (const std::string& line : log.lines) {
        EXPECT_EQ(line.find("button"), std::string::npos) << line;
        EXPECT_EQ(line.find("Error: Error"), std::string::npos) << line;
    }
}

}  // namespace
}  // namespace ovrin::headless
