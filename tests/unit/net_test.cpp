// The listener and its clients: one at a time, or five with Bridge; a client that
// left is settled before a newcomer is refused; a listener error closes them all.
#include <gtest/gtest.h>

#include "net/ComPortClient.h"
#include "net/Listener.h"
#include "serial/SerialPort.h"
#include "sim/SimPlatform.h"

namespace ovrin {
namespace {

// One client at a time: a newcomer refused; one whose close is not yet handled is
// settled (what it sent written, its key released) and the next served. With
// Bridge, five slots, the lowest free one reused; a listener error closes them all.
// Slots never loaded are free and need no closing: no step of all this fails.
TEST(Listener, OneClientAtATimeOneThatLeftSettledAndTheNextServedWithoutANewTest) {
    sim::SimApp app;
    app.Load();
    const int32_t listener = app.sockets.Element(0).handle;
    ASSERT_TRUE(app.sockets.RequestConnection("198.51.100.7"));
    EXPECT_EQ(app.f.cboConn.Text() + " " + app.f.cboRmtAddress.Text(), "ON-LINE 198.51.100.7");
    EXPECT_FALSE(app.sockets.RequestConnection("198.51.100.9"));
    EXPECT_TRUE(app.log.Has({"198.51.100.9 refused: the limit of 1 client is reached"}));

    KeyPTT(app.f.station, *app.f.station.connections.BySlot(1), KeyWay::InBand);
    app.Client(1).rx = "FA1;";  // sent just before it went
    app.Client(1).peerGone = true;  // its close event not yet delivered
    ASSERT_TRUE(app.sockets.RequestConnection("198.51.100.8"));
    EXPECT_EQ(std::tuple(app.Client(1).RemoteHostIP(), app.com.Written(), app.com.RTSEnable()),
              std::tuple("198.51.100.8", "FA1;", false));
    EXPECT_TRUE(app.log.Has({"198.51.100.7", "left"}));

    app.sockets.PeerCloses(1);
    EXPECT_EQ(app.f.cboConn.Text(), "Listen");
    EXPECT_TRUE(app.com.PortOpen());  // "Com Port active in Listen Mode"
    ASSERT_TRUE(app.sockets.RequestConnection("10.0.0.1"));
    EXPECT_EQ(app.sockets.Element(0).handle, listener);

    app.f.chkBridge.SetValue(1);
    for (int i = 2; i <= 5; ++i) ASSERT_TRUE(app.sockets.RequestConnection("10.0.0." + std::to_string(i)));
    EXPECT_FALSE(app.sockets.RequestConnection("10.0.0.6"));  // no free slot
    EXPECT_TRUE(app.log.Has({"10.0.0.6 refused: the limit of 5 clients is reached"}) &&
                app.f.lblRmtAddress.Caption() == "Rmt IP Adrs (5): ");
    app.sockets.PeerCloses(2);
    ASSERT_TRUE(app.sockets.RequestConnection("10.0.0.9"));
    EXPECT_EQ(app.Client(2).RemoteHostIP() + " " + app.f.cboRmtAddress.List(1), "10.0.0.9 10.0.0.9");  // by slot
    app.sockets.RaiseError(0);
    EXPECT_EQ(std::tuple(app.sockets.Count(), app.f.cboConn.Text(), app.log.Count("step failed")), std::tuple(1, "Listen", 0));
}

// A failed accept on either listener: nobody has left. The client served keeps
// its answers, both listeners go on, the next client is served, and the log says
// so once a minute with the count of those it held back.
TEST(Listener, AFailedAcceptIsNoDepartureAndIsLoggedOnceAMinute) {
    for (const int16_t listener : {int16_t{0}, kComPortListener}) {
        sim::SimApp app;
        app.f.station.Given.options = {{"clients", "2"}, {"rfc2217-port", "50001"}};
        app.Load();
        ASSERT_TRUE(app.sockets.RequestConnection("10.0.0.1"));
        for (int i = 0; i < 3; ++i) app.sockets.AcceptFails(listener);
        EXPECT_EQ(app.log.Count("Cannot accept a connection"), 1) << listener;
        EXPECT_FALSE(app.log.Has({"lost"})) << listener;
        EXPECT_EQ(std::tuple(app.sockets.Element(0).state, app.sockets.Element(kComPortListener).state, app.com.PortOpen()),
                  std::tuple(sckListening, sckListening, true)) << listener;
        app.Send(1, "FA;");
        app.Radio("FA00014074000;");
        EXPECT_EQ(app.Client(1).sent, "FA00014074000;") << listener;
        ASSERT_TRUE(app.sockets.RequestConnection("10.0.0.2", listener)) << listener;
        app.clock.Advance(kAcceptFailureLogMs);
        app.sockets.AcceptFails(listener);
        EXPECT_EQ(app.log.Count("Cannot accept a connection"), 2) << listener;
        EXPECT_TRUE(app.log.Has({"Out of resources", "(2 more failures in the last minute)"})) << listener;
        EXPECT_EQ(app.log.Count("step failed"), 0) << listener;
    }
}

// A key that waits for the radio's frequency holds what its client sends behind
// it: in the client's socket (TCP slows it down), not in the server's memory.
TEST(Listener, WhatAClientSendsBehindAKeyWaitingForTheFrequencyStaysInItsSocket) {
    sim::SimApp app;
    app.f.station.Given.options = {{"tx-allowed", "14000000-14350000"}};
    app.Load();
    ASSERT_TRUE(app.sockets.RequestConnection());
    app.Send(1, "TX;");
    EXPECT_EQ(app.com.Written(), "FA;");  // the server's own read
    Bytes polls;
    for (int i = 0; i < 20000; ++i) polls += "FA;";
    app.Send(1, polls);
    app.clock.Advance(10);
    EXPECT_EQ(app.Client(1).rx.size(), polls.size());
    app.com.RadioSends("FA00014074000;");
    app.clock.Advance(100);
    EXPECT_TRUE(app.f.station.transmitter.Keyed());
    EXPECT_LT(app.Client(1).rx.size(), polls.size());  // read again once the key went
}

}  // namespace
}  // namespace ovrin
