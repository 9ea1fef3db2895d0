// Clients of the remote serial port on the simulated platform: data unchanged both
// ways, line settings for a lone client only, RTS as a held key that never moves
// in a client's first second.
#include <gtest/gtest.h>

#include "line/Framing.h"
#include "net/ComPortClient.h"
#include "sim/SimPlatform.h"

namespace ovrin {
namespace {

using sim::ComPortOption, sim::SetControl;
const Bytes kRtsOn = SetControl(11), kRtsOff = SetControl(12);

// Listening with the remote serial port on; its client in slot 1.
struct Remote : sim::SimApp {
    explicit Remote(int txLimitS = ServerOptions{}.txLimitS) {
        f.station.Given.options = {{"clients", "2"}, {"rfc2217-port", "50001"}, {"tx-limit", std::to_string(txLimitS)}};
        Load();
        f.chkCtrlPTT.SetValue(1);
        EXPECT_TRUE(sockets.RequestConnection("198.51.100.5", kComPortListener));
        com.rtsHistory.clear();
    }
    bool Answered(const Bytes& answer) { return Client(1).sent.find(answer) != Bytes::npos; }
};

TEST(RemotePort, DataPassUnchangedBothWaysWithNoEchoFilter) {
    Remote app;
    EXPECT_EQ(app.Client(1).sent.substr(0, 3), Bytes("\xFF\xFB\x00", 3));  // the greeting
    app.Client(1).sent.clear();
    const Bytes data("FA;\r\x00\x1B\x1B" "ATH1", 11);
    app.Send(1, "\xFF\xFF" + data);
    EXPECT_EQ(app.com.Written(), "\xFF" + data);
    EXPECT_TRUE(app.com.rtsHistory.empty());  // no in-band key here
    app.com.RadioSends(Bytes("FA;\xFF", 4));
    EXPECT_EQ(app.Client(1).sent, Bytes("FA;\xFF\xFF", 5));
}

// A lone client's line change is applied and answered with its value, and undone
// when it goes; while another client shares the radio it is answered, not applied.
// The data path's timing (answer wait, quiet gap) follows the line each time.
TEST(RemotePort, LineSettingsApplyForALoneClientOnly) {
    for (const bool shared : {false, true}) {
        Remote app;
        const auto timed = [&] { return app.f.station.path.CharacterMicroseconds() == RadioCharacterMicroseconds(app.com.Settings()); };
        EXPECT_TRUE(timed()) << "at open";
        if (shared) {
            ASSERT_TRUE(app.sockets.RequestConnection());
        }
        app.Send(1, ComPortOption(1, Bytes("\x00\x00\x12\xC0", 4)) + ComPortOption(3, "\x03"));  // 4800, even
        EXPECT_TRUE(app.Answered(ComPortOption(101, Bytes("\x00\x00\x12\xC0", 4)))) << shared;
        EXPECT_TRUE(app.Answered(ComPortOption(103, "\x03"))) << shared;
        EXPECT_EQ(app.com.Settings(), shared ? "9600,n,8,2" : "4800,e,8,2");
        EXPECT_TRUE(timed()) << shared;
        app.sockets.PeerCloses(1);
        EXPECT_TRUE(app.com.Settings() == "9600,n,8,2" && timed()) << shared << ", after it left";
    }
}

// RTS keys the transmitter: what a program sets in its first second is where it
// starts, not a key; every later request to raise it keys (a program sets RTS
// again when it transmits, whether or not the line is up), held to the transmit
// limit; the key goes with the client.
TEST(RemotePort, RtsIsAHeldKeyThatNeverMovesAtOpen) {
    Remote app(5);
    app.Send(1, kRtsOff + kRtsOn);  // a program opening its port, RTS left up
    EXPECT_TRUE(app.Answered(ComPortOption(105, "\x0B")));
    app.clock.Advance(1000);
    EXPECT_TRUE(app.com.rtsHistory.empty());
    app.Send(1, kRtsOn);
    EXPECT_EQ(app.com.rtsHistory, std::vector<bool>{true});
    app.clock.Advance(5000);
    EXPECT_TRUE(!app.com.RTSEnable() && app.log.Has({"transmit limit of 5 s"}));
    app.Send(1, kRtsOn);  // still on as far as the client knows: asked again, keyed again
    EXPECT_TRUE(app.com.RTSEnable());
    app.Send(1, kRtsOff + kRtsOn);
    EXPECT_TRUE(app.com.RTSEnable());
    app.sockets.PeerCloses(1);
    EXPECT_EQ(app.com.rtsHistory, (std::vector<bool>{true, false, true, false, true, false}));
    // Each transmission is in the record at its time, none held back.
    EXPECT_EQ(app.log.Count("PTT keyed:"), 3);
    EXPECT_TRUE(app.log.Has({"PTT released", "RTS (remote serial port)", "its client left"}));
    EXPECT_FALSE(app.log.Has({"more line"}));
}

// A client that toggles RTS as fast as it can cannot fill the log: the record's
// budget of lines a second, then the last of the held ones with their count.
TEST(RemotePort, ARapidlyToggledRtsIsLoggedOnceASecond) {
    Remote app;
    app.clock.Advance(1000);
    const std::size_t before = app.log.lines.size();
    for (int i = 0; i < 1000; ++i) app.Send(1, kRtsOn + kRtsOff);
    app.clock.Advance(1000);
    EXPECT_EQ(app.com.rtsHistory.size(), 2000u);
    EXPECT_LE(app.log.lines.size() - before, ClientLog::kRecordPerSecond + 2u);
    EXPECT_TRUE(app.log.Has({"PTT released", "1990 more lines like it"}));
}

// An open over a slow link sends flow control, DTR and RTS a round trip apart: its
// first control request holds the lines for a second again. A 10 s limit is named
// as the transmit limit, not as the in-band key's watchdog of the same length.
TEST(RemotePort, AnOpenOverASlowLinkKeysNothingAndALimitIsNamedAsSuch) {
    const struct {
        std::vector<std::pair<int, uint8_t>> requests;  // ms after the connect, SET-CONTROL value
        int keyedAt;                                    // ms, -1: never
    } rows[] = {
        {{{850, 1}, {1150, 8}, {1450, 11}, {1800, 12}}, -1},  // pyserial's open over a 300 ms round trip
        {{{100, 11}}, -1},                                   // raised at open and held: where it starts
        {{{100, 11}, {1500, 11}}, 1500},                     // asked again later: a key
    };
    for (const auto& row : rows) {
        Remote app(10);
        int now = 0, keyedAt = -1;
        auto until = [&](int ms) {
            for (; now < ms; ++now, app.clock.Advance(1))
                if (keyedAt < 0 && app.com.RTSEnable()) keyedAt = now;
        };
        for (const auto& [at, value] : row.requests) {
            until(at);
            app.Send(1, SetControl(value));
        }
        until(row.keyedAt < 0 ? 3000 : row.keyedAt + 10000);
        EXPECT_EQ(std::pair(keyedAt, app.com.RTSEnable()), std::pair(row.keyedAt, false));
        EXPECT_EQ(app.log.Has({"transmit limit of 10 s"}), row.keyedAt >= 0);
    }
}

}  // namespace
}  // namespace ovrin
