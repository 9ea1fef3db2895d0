// The transmitter keyed through RTS: its watchdog, its one owner among several
// clients, and RTS down whenever the clients or the port go.
#include <gtest/gtest.h>

#include <functional>

#include "serial/SerialPort.h"
#include "sim/SimPlatform.h"

namespace ovrin {
namespace {

using sim::Keyer, sim::SimApp;
const Bytes& kKey = sim::kInBandKey;
const Bytes& kRelease = sim::kInBandRelease;

// With several clients the first to key owns the transmitter: the others can
// neither key nor release it. Its key drops when it is not renewed for 10 s (a
// repeat restarts the period), and when its owner goes.
TEST(Ptt, TheFirstClientToKeyOwnsTheTransmitterAndTheWatchdogDropsAKeyNotRenewedForTenSeconds) {
    Keyer app;
    app.f.chkBridge.SetValue(1);
    ASSERT_TRUE(app.sockets.RequestConnection());
    app.Send(1, kKey);
    app.Send(2, kRelease);
    app.Send(2, kKey);
    EXPECT_TRUE(app.com.rtsHistory == std::vector<bool>{true} && app.log.Has({"release ignored"}));
    app.clock.Advance(5000);
    app.Send(1, kKey);
    app.clock.Advance(9999);
    EXPECT_TRUE(app.com.RTSEnable());
    app.clock.Advance(1);
    EXPECT_TRUE(!app.com.RTSEnable() && app.f.chkCtrlPTT.BackColor() == kColourButtonFace);
    app.Send(1, kKey);
    app.sockets.PeerCloses(1);
    EXPECT_FALSE(app.com.RTSEnable());
    app.Send(2, kKey);
    EXPECT_EQ(app.f.station.transmitter.Owner(), app.f.station.connections.IdOf(2));
}

// RTS is down once the clients have gone, and before the port closes, whichever way.
TEST(Ptt, RtsDropsWhenTheClientsGoAndBeforeEveryClose) {
    const struct {
        const char* name;
        int keptOpen;
        std::function<void(SimApp&)> close;
    } paths[] = {
        {"last client gone", 0, [](SimApp& a) { a.sockets.PeerCloses(1); }},
        {"last client gone, port kept open", 1, [](SimApp& a) { a.sockets.PeerCloses(1); }},
        {"connection failed (keepalive)", 0, [](SimApp& a) { a.sockets.RaiseError(1); }},
        {"Off-line", 1, [](SimApp& a) { a.f.cboConn.SetListIndex(0); }},
        {"window closed", 1, [](SimApp& a) { a.f.Form.Unload(); }},
        {"device lost", 1, [](SimApp& a) { a.com.Unplug(); }},
    };
    for (const auto& path : paths) {
        Keyer app;
        app.f.chkComPortActiveInListen.SetValue(path.keptOpen);  // while listening: no rules
        app.Send(1, kKey);
        ASSERT_TRUE(app.com.RTSEnable());
        path.close(app);
        SCOPED_TRACE(path.name);
        EXPECT_FALSE(app.com.RTSEnable() && app.com.PortOpen());
        for (bool high : app.com.rtsAtClose) EXPECT_FALSE(high);
        EXPECT_TRUE(!app.f.station.tmrPTT.Enabled() && app.f.chkCtrlPTT.BackColor() == kColourButtonFace);
    }
    // RTS raised by its box, not as PTT: a driver may keep the line at close.
    SimApp raised;
    raised.Load();
    raised.f.cboConn.SetListIndex(0);
    raised.f.chkRTS.SetValue(1);
    raised.f.chkComPortActiveInListen.SetValue(1);
    raised.f.cboConn.SetListIndex(1);
    ASSERT_TRUE(raised.com.PortOpen() && raised.com.RTSEnable());
    raised.f.cboConn.SetListIndex(0);
    ASSERT_FALSE(raised.com.rtsAtClose.empty());
    EXPECT_FALSE(raised.com.rtsAtClose.back());
}

}  // namespace
}  // namespace ovrin
