// Roles and allowed bands on the simulated platform: what a monitor, an operator
// and a transmit client get written to the radio in each command family, how a
// refusal is answered and logged, a monitor's remote serial port requests, and the
// band check at every key.
#include <gtest/gtest.h>

#include "cat/Families.h"
#include "net/ComPortClient.h"
#include "sim/SimPlatform.h"

namespace ovrin {
namespace {

using sim::H;

// Serving one client from 198.51.100.1 in the role, with the options given.
struct Roled : sim::SimApp {
    explicit Roled(const std::string& role, std::vector<std::pair<std::string, std::string>> options = {}) {
        options.emplace_back("allow", "198.51.100.1=" + role + ", 198.51.100.0/24=monitor");
        f.station.Given.options = options;
        Load();
        f.chkCtrlPTT.SetValue(1);
        EXPECT_TRUE(sockets.RequestConnection("198.51.100.1"));
        com.rtsHistory.clear();
    }
};

const Bytes kCivRead = H({0xFE, 0xFE, 0x94, 0xE0, 0x03, 0xFD});
const Bytes kCivSet = H({0xFE, 0xFE, 0x94, 0xE0, 0x05, 0x00, 0x40, 0x07, 0x07, 0x00, 0xFD});
const Bytes kCivKey = H({0xFE, 0xFE, 0x94, 0xE0, 0x1C, 0x00, 0x01, 0xFD});
const Bytes kCivNg = H({0xFE, 0xFE, 0xE0, 0x94, 0xFA, 0xFD});
const Bytes kFtRead = H({0, 0, 0, 0, 0x03}), kFtSet = H({0x00, 0x70, 0x74, 0x00, 0x01}), kFtKey = H({0, 0, 0, 0, 0x08});

// Each role against each family's reads, sets, keys and bytes in no language:
// what is written to the radio, and what the client hears at once.
TEST(Roles, EachRoleAgainstEachFamily) {
    const struct {
        const char* role;
        Bytes sent, written, answered;
    } rows[] = {
        {"monitor", "FA;", "FA;", ""},
        {"monitor", "FA00007074000;", "", "?;"},
        {"monitor", "TX;", "", "?;"},
        {"monitor", "ZZ1;", "", "?;"},                       // the tables cannot place it
        {"monitor", "FA;MD1;IF;", "FA;IF;", "?;"},           // the set alone is taken out
        {"monitor", "AI2;", "AI2;", ""},                     // its own auto-information
        {"monitor", kCivRead, kCivRead, ""},
        {"monitor", kCivSet, "", kCivNg},
        {"monitor", kCivKey, "", kCivNg},
        {"monitor", kFtRead, kFtRead, ""},
        {"monitor", kFtSet, "", ""},
        {"monitor", kFtKey, "", ""},
        {"monitor", "hello, radio\r\n", "", ""},             // no language: refused whole
        {"operate", "FA00007074000;", "FA00007074000;", ""},
        {"operate", "TX;", "", "?;"},
        {"operate", "KY CQ TEST;", "", "?;"},
        {"operate", kCivSet, kCivSet, ""},
        {"operate", kCivKey, "", kCivNg},
        {"operate", kFtSet, kFtSet, ""},
        {"operate", kFtKey, "", ""},
        {"operate", "hello, radio\r\n", "", ""},            // nor for an operator: it may key
        {"transmit", "TX;", "TX;", ""},
        {"transmit", kCivKey, kCivKey, ""},
        {"transmit", kFtKey, kFtKey, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.role) + " " + cat::Hex(row.sent));
        Roled app(row.role);
        app.Send(1, row.sent);
        app.clock.Advance(300);
        EXPECT_EQ(app.com.Written(), row.written);
        EXPECT_EQ(app.Client(1).sent, row.answered);
        EXPECT_EQ(app.f.station.transmitter.Keyed(), std::string(row.role) == "transmit");  // every such row keys
    }
}

// A command whose rest never came is not written for a limited role: the radio
// would join it to the next ("TX" and, later, ";" would key).
TEST(Roles, ACommandCutShortIsNeverWrittenForALimitedRole) {
    const struct {
        const char* role;
        const char* cat;
        Bytes written, answered;
    } rows[] = {
        {"operate", "kenwood", ";", "?;"},  // the start refused, the lone ";" harmless
        {"operate", "auto", "", ""},        // never recognised: no language, refused
        {"transmit", "kenwood", "TX;", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.role) + " " + row.cat);
        Roled app(row.role, {{"cat", row.cat}});
        app.Send(1, "TX");
        app.clock.Advance(300);
        app.Send(1, ";");
        app.clock.Advance(300);
        EXPECT_EQ(app.com.Written(), row.written);
        EXPECT_EQ(app.Client(1).sent, row.answered);
    }
}

// A refusal is logged at most once a second per client, with a count; the log
// names each client's role when it connects.
TEST(Roles, RefusalsAreLoggedOnceASecondWithACount) {
    Roled app("monitor", {{"clients", "2"}});
    EXPECT_EQ(app.log.Count("(slot 1, connection 1) connected as monitor"), 1);
    for (int i = 0; i < 5; ++i) app.Send(1, "FA00007074000;");
    EXPECT_EQ(app.log.Count("(monitor): Kenwood FA00007074000; refused: a monitor may only read"), 1);
    app.clock.Advance(1000);
    EXPECT_EQ(app.log.Count("4 more lines like it"), 1);
    EXPECT_EQ(app.Client(1).sent, "?;?;?;?;?;");
    EXPECT_TRUE(app.sockets.RequestConnection("198.51.100.9"));
    EXPECT_EQ(app.log.Count("connected as monitor"), 2);  // the second entry matched
}

// Keying by the in-band command: refused for a monitor and an operator, the line
// never raised.
TEST(Roles, InBandKeyOnlyForTransmit) {
    for (const char* role : {"monitor", "operate", "transmit"}) {
        Roled app(role);
        app.Send(1, sim::kInBandKey);
        const bool transmit = std::string(role) == "transmit";
        EXPECT_EQ(app.com.rtsHistory, transmit ? std::vector<bool>{true} : std::vector<bool>{}) << role;
        EXPECT_EQ(app.log.Count("role may not transmit"), transmit ? 0 : 1) << role;
    }
}

const Bytes kIac(1, '\xFF');
Bytes Request(uint8_t command, const Bytes& value) {
    return kIac + "\xFA\x2C" + static_cast<char>(command) + value + kIac + "\xF0";
}
Bytes Control(uint8_t value) { return Request(5, Bytes(1, static_cast<char>(value))); }

// A monitor's remote serial port requests change nothing of the port: each is
// answered with the state the port keeps. An operator's RTS (the key) is refused.
TEST(Roles, RemoteSerialPortRequestsFromAMonitor) {
    const struct {
        const char* role;
        Bytes sent, answer;
    } rows[] = {
        {"monitor", Request(1, Bytes("\x00\x00\x12\xC0", 4)), kIac + "\xFA\x2C\x65" + Bytes("\x00\x00\x25\x80", 4)},
        {"monitor", Request(3, "\x03"), kIac + "\xFA\x2C\x67\x01"},  // parity stays none
        {"monitor", Control(11), kIac + "\xFA\x2C\x69\x0C"},         // RTS on: it stays off
        {"monitor", Control(8), kIac + "\xFA\x2C\x69\x09"},          // DTR on: it stays off
        {"monitor", Control(5), kIac + "\xFA\x2C\x69\x06"},          // break: none
        {"monitor", Request(12, "\x03"), kIac + "\xFA\x2C\x70\x03"}, // purge: answered, nothing purged
        {"operate", Control(11), kIac + "\xFA\x2C\x69\x0C"},
        {"transmit", Control(11), kIac + "\xFA\x2C\x69\x0B"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.role) + " " + cat::Hex(row.sent));
        sim::SimApp app;
        app.f.station.Given.options = {{"allow", std::string("198.51.100.5=") + row.role}, {"rfc2217-port", "50001"}};
        app.Load();
        app.f.chkCtrlPTT.SetValue(1);
        ASSERT_TRUE(app.sockets.RequestConnection("198.51.100.5", kComPortListener));
        app.clock.Advance(1000);  // past its first second
        app.com.rtsHistory.clear();
        app.Send(1, row.sent);
        EXPECT_NE(app.Client(1).sent.find(row.answer), Bytes::npos) << cat::Hex(app.Client(1).sent);
        EXPECT_EQ(app.com.Settings(), "9600,n,8,2");
        EXPECT_FALSE(app.com.DTREnable());
        EXPECT_EQ(app.f.station.transmitter.Keyed(), std::string(row.role) == "transmit");
    }
}

// The band check at the key: the frequency the radio last told (within 500 ms),
// read again when older, a set leaving the bands refused while keyed.
TEST(Roles, KeysOnlyInsideTheAllowedBands) {
    const std::vector<std::pair<std::string, std::string>> bands = {{"tx-allowed", "14000000-14350000"}};
    {
        SCOPED_TRACE("outside: refused, logged with the frequency and the ranges");
        Roled app("transmit", bands);
        app.Send(1, "FA;");
        app.com.RadioSends("FA00007074000;");
        app.Send(1, "TX;");
        EXPECT_EQ(app.com.Written(), "FA;");
        EXPECT_EQ(app.Client(1).sent, "FA00007074000;?;");
        EXPECT_EQ(app.log.Count("outside the allowed bands: 7.074000 MHz, allowed 14000000-14350000 Hz"), 1);
    }
    {
        SCOPED_TRACE("inside: keyed, the record names the role and the frequency");
        Roled app("transmit", bands);
        app.Send(1, "FA;");
        app.com.RadioSends("FA00014074000;");
        app.Send(1, "TX;");
        EXPECT_EQ(app.com.Written(), "FA;TX;");
        ASSERT_TRUE(app.f.station.transmitter.Keyed());
        EXPECT_EQ(app.f.station.transmitter.Recent().back().hz, 14074000);
        EXPECT_EQ(app.log.Count("by CAT (Kenwood TX;), role transmit, on 14.074000 MHz"), 1);
        SCOPED_TRACE("while keyed, a set that leaves the bands is refused, one inside goes");
        app.Send(1, "FA00007074000;FA00014075000;");
        app.clock.Advance(300);  // the key's answer wait (TX; is a read to the newer Yaesu)
        EXPECT_EQ(app.com.Written(), "FA;TX;FA00014075000;");
        EXPECT_EQ(app.Client(1).sent, "FA00014074000;?;");
    }
    {
        SCOPED_TRACE("stale: read again just before the key; what follows the key waits behind it");
        Roled app("transmit", bands);
        app.Send(1, "FA;");
        app.com.RadioSends("FA00014074000;");
        app.clock.Advance(501);
        app.Send(1, "TX;");
        app.Send(1, "IF;");
        EXPECT_EQ(app.com.Written(), "FA;FA;");
        app.com.RadioSends("FA00007074000;");  // moved meanwhile
        app.clock.Advance(100);
        EXPECT_EQ(app.com.Written(), "FA;FA;IF;");
        EXPECT_FALSE(app.f.station.transmitter.Keyed());
        EXPECT_EQ(app.Client(1).sent, "FA00014074000;?;");  // the server's answer reaches nobody
        EXPECT_EQ(app.log.Count("outside the allowed bands: 7.074000 MHz"), 1);
        app.com.RadioSends("IF00014074000     +00000000002000000 ;");
        app.clock.Advance(600);
        app.Send(1, "TX;");
        app.com.RadioSends("FA00014074000;");
        app.clock.Advance(100);
        EXPECT_TRUE(app.f.station.transmitter.Keyed());
        EXPECT_EQ(app.com.Written(), "FA;FA;IF;FA;TX;");
    }
    {
        SCOPED_TRACE("the server's read goes to the radio though a read in hand could answer a client");
        auto shared = bands;
        shared.emplace_back("cache-ms", "2000");
        Roled app("transmit", shared);
        app.Send(1, "FA;");
        app.com.RadioSends("FA00014074000;");
        app.clock.Advance(600);
        app.Send(1, "TX;");
        EXPECT_EQ(app.com.Written(), "FA;FA;");
        app.com.RadioSends("FA00014074000;");
        app.clock.Advance(100);
        EXPECT_TRUE(app.f.station.transmitter.Keyed());
    }
    {
        SCOPED_TRACE("a report counts; a set that went counts");
        Roled app("transmit", bands);
        app.com.RadioSends("IF00014074000     +00000000002000000 ;");
        app.clock.Advance(100);
        app.Send(1, "FA00007100000;TX;");
        EXPECT_FALSE(app.f.station.transmitter.Keyed());
    }
    {
        SCOPED_TRACE("no answer: the key is refused after the answer wait");
        Roled app("transmit", bands);
        app.Send(1, "TX;");
        EXPECT_EQ(app.com.Written(), "FA;");
        app.clock.Advance(300);
        EXPECT_EQ(app.Client(1).sent, "");
        app.clock.Advance(100);
        EXPECT_EQ(app.Client(1).sent, "?;");
        EXPECT_FALSE(app.f.station.transmitter.Keyed());
        EXPECT_EQ(app.log.Count("the radio did not tell its frequency when asked"), 1);
    }
    {
        SCOPED_TRACE("an in-band key on a stale frequency: refused, the radio asked, the next key goes");
        Roled app("transmit", bands);
        app.Send(1, "FA;");
        app.com.RadioSends("FA00014074000;");
        app.clock.Advance(501);
        app.Send(1, sim::kInBandKey);
        EXPECT_EQ(app.log.Count("unknown or older than 500 ms: asked the radio now"), 1);
        app.com.RadioSends("FA00014074000;");
        app.Send(1, sim::kInBandKey);
        EXPECT_EQ(app.com.rtsHistory, std::vector<bool>{true});
    }
    {
        SCOPED_TRACE("no language to read it in: the in-band key is refused and says so");
        Roled app("transmit", bands);
        app.Send(1, sim::kInBandKey);
        EXPECT_TRUE(app.com.rtsHistory.empty());
        EXPECT_EQ(app.log.Count("frequency cannot be read"), 1);
    }
    {
        SCOPED_TRACE("5-byte: the server's read, its answer known by its place");
        Roled app("transmit", bands);
        app.Send(1, kFtKey);
        EXPECT_EQ(app.com.Written(), kFtRead);
        app.com.RadioSends(H({0x01, 0x40, 0x74, 0x00, 0x01}));  // 14.074 MHz USB
        app.clock.Advance(100);
        EXPECT_EQ(app.com.Written(), kFtRead + kFtKey);
        ASSERT_TRUE(app.f.station.transmitter.Keyed());
        EXPECT_EQ(app.f.station.transmitter.Recent().back().hz, 14074000);
    }
    {
        SCOPED_TRACE("CI-V: the transceive report, and the server's read to the client's addresses");
        Roled app("transmit", bands);
        app.Send(1, kCivRead);
        app.com.RadioSends(H({0xFE, 0xFE, 0x00, 0x94, 0x00, 0x00, 0x40, 0x07, 0x14, 0x00, 0xFD}));
        app.Send(1, kCivKey);
        EXPECT_TRUE(app.f.station.transmitter.Keyed());
        app.Send(1, kCivSet);
        EXPECT_NE(app.Client(1).sent.find(kCivNg), Bytes::npos);
    }
}

}  // namespace
}  // namespace ovrin
