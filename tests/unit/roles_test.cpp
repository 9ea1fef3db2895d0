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
using S = sim::SimApp;

// Serving one client from 198.51.100.1 in the role, with the options given, on the
// listener given.
struct Roled : sim::SimApp {
    explicit Roled(const std::string& role, std::vector<std::pair<std::string, std::string>> options = {},
                   int16_t listener = 0) {
        options.emplace_back("allow", "198.51.100.1=" + role + ", 198.51.100.0/24=monitor");
        f.station.Given.options = options;
        Load();
        f.chkCtrlPTT.SetValue(1);
        EXPECT_TRUE(sockets.RequestConnection("198.51.100.1", listener));
        com.rtsHistory.clear();
    }
};

const Bytes kCivRead = H({0xFE, 0xFE, 0x94, 0xE0, 0x03, 0xFD});
const Bytes kCivSet = H({0xFE, 0xFE, 0x94, 0xE0, 0x05, 0x00, 0x40, 0x07, 0x07, 0x00, 0xFD});
const Bytes kCivKey = H({0xFE, 0xFE, 0x94, 0xE0, 0x1C, 0x00, 0x01, 0xFD});
const Bytes kCivNg = H({0xFE, 0xFE, 0xE0, 0x94, 0xFA, 0xFD});
const Bytes kFtRead = H({0, 0, 0, 0, 0x03}), kFtSet = H({0x00, 0x70, 0x74, 0x00, 0x01}), kFtKey = H({0, 0, 0, 0, 0x08});

// Each role against each family's reads, sets, keys and bytes in no language, and
// the in-band key: what is written to the radio, and what the client hears at once.
TEST(Roles, EachRoleAgainstEachFamily) {
    struct Outcome {
        Bytes written, answered;
    };
    const struct {
        Bytes sent;
        bool keys;  // when a transmit client sends it
        Outcome monitor, operate, transmit;
    } rows[] = {
        {"FA;", false, {"FA;", ""}, {"FA;", ""}, {"FA;", ""}},
        {"FA00007074000;", false, {"", "?;"}, {"FA00007074000;", ""}, {"FA00007074000;", ""}},
        {"TX;", true, {"", "?;"}, {"", "?;"}, {"TX;", ""}},
        {"ZZ1;", false, {"", "?;"}, {"ZZ1;", ""}, {"ZZ1;", ""}},  // the tables cannot place it
        {"KY CQ TEST;", false, {"", "?;"}, {"", "?;"}, {"KY CQ TEST;", ""}},
        {"FA;MD1;IF;", false, {"FA;IF;", "?;"}, {"FA;MD1;IF;", ""}, {"FA;MD1;IF;", ""}},  // the set alone taken out
        {"AI2;", false, {"AI2;", ""}, {"AI2;", ""}, {"AI2;", ""}},  // its own auto-information
        {kCivRead, false, {kCivRead, ""}, {kCivRead, ""}, {kCivRead, ""}},
        {kCivSet, false, {"", kCivNg}, {kCivSet, ""}, {kCivSet, ""}},
        {kCivKey, true, {"", kCivNg}, {"", kCivNg}, {kCivKey, ""}},
        {kFtRead, false, {kFtRead, ""}, {kFtRead, ""}, {kFtRead, ""}},
        {kFtSet, false, {"", ""}, {kFtSet, ""}, {kFtSet, ""}},
        {kFtKey, true, {"", ""}, {"", ""}, {kFtKey, ""}},
        // No language: refused whole from a limited role, even an operator's (it may key).
        {"hello, radio\r\n", false, {"", ""}, {"", ""}, {"hello, radio\r\n", ""}},
        {sim::kInBandKey, true, {"", ""}, {"", ""}, {"", ""}},  // RTS raised for a transmit client only
    };
    for (const auto& row : rows) {
        for (const auto& [role, outcome] :
             {std::pair{"monitor", row.monitor}, {"operate", row.operate}, {"transmit", row.transmit}}) {
            SCOPED_TRACE(std::string(role) + " " + cat::Hex(row.sent));
            Roled app(role);
            app.Run({S::C(1, row.sent), S::T(300), S::W(outcome.written), S::G(1, outcome.answered)});
            const bool transmit = std::string(role) == "transmit", inBand = row.sent == sim::kInBandKey;
            EXPECT_EQ(app.f.station.transmitter.Keyed(), transmit && row.keys);
            EXPECT_EQ(app.com.rtsHistory, std::vector<bool>(transmit && inBand, true));
            EXPECT_EQ(app.log.Count("role may not transmit"), !transmit && inBand);
        }
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
        app.Run({S::C(1, "TX"), S::T(300), S::C(1, ";"), S::T(300), S::W(row.written), S::G(1, row.answered)});
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
    EXPECT_EQ(std::tuple(app.log.Count("4 more lines like it"), app.Client(1).sent), std::tuple(1, "?;?;?;?;?;"));
    EXPECT_TRUE(app.sockets.RequestConnection("198.51.100.9"));
    EXPECT_EQ(app.log.Count("connected as monitor"), 2);  // the second entry matched
}

using sim::ComPortOption, sim::SetControl;

// A monitor's remote serial port requests change nothing of the port: each is
// answered with the state the port keeps. An operator's RTS (the key) is refused.
TEST(Roles, RemoteSerialPortRequestsFromAMonitor) {
    const struct {
        const char* role;
        Bytes sent, answer;
    } rows[] = {
        {"monitor", ComPortOption(1, Bytes("\x00\x00\x12\xC0", 4)), ComPortOption(101, Bytes("\x00\x00\x25\x80", 4))},
        {"monitor", ComPortOption(3, "\x03"), ComPortOption(103, "\x01")},  // parity stays none
        {"monitor", SetControl(11), ComPortOption(105, "\x0C")},           // RTS on: it stays off
        {"monitor", SetControl(8), ComPortOption(105, "\x09")},            // DTR on: it stays off
        {"monitor", SetControl(5), ComPortOption(105, "\x06")},            // break: none
        {"monitor", ComPortOption(12, "\x03"), ComPortOption(112, "\x03")},  // purge: answered, nothing purged
        {"operate", SetControl(11), ComPortOption(105, "\x0C")},
        {"transmit", SetControl(11), ComPortOption(105, "\x0B")},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.role) + " " + cat::Hex(row.sent));
        Roled app(row.role, {{"rfc2217-port", "50001"}}, kComPortListener);
        app.clock.Advance(1000);  // past its first second
        app.Send(1, row.sent);
        EXPECT_NE(app.Client(1).sent.find(row.answer), Bytes::npos) << cat::Hex(app.Client(1).sent);
        EXPECT_EQ(std::pair(app.com.Settings(), app.com.DTREnable()), std::pair(std::string("9600,n,8,2"), false));
        EXPECT_EQ(app.f.station.transmitter.Keyed(), std::string(row.role) == "transmit");
    }
}

// The band check at the key: the frequency the radio last told (within 500 ms),
// read again when older (from the radio, though a read in hand could answer a
// client), a set leaving the bands refused while keyed.
TEST(Roles, KeysOnlyInsideTheAllowedBands) {
    const Bytes fa14 = "FA00014074000;", fa7 = "FA00007074000;", report = "IF00014074000     +00000000002000000 ;";
    const struct {
        const char* name;
        std::vector<S::Step> steps;
        bool keyed, byRts;
        const char* logged;  // "" for no check
        Bytes heard;         // among what the client heard ("" for no check)
    } rows[] = {
        {"outside: refused, logged with the frequency and the ranges",
         {S::C(1, "FA;"), S::R(fa7), S::C(1, "TX;"), S::W("FA;"), S::G(1, fa7 + "?;")}, false, false,
         "outside the allowed bands: 7.074000 MHz, allowed 14000000-14350000 Hz", ""},
        {"inside: keyed, the record names the role and the frequency; while keyed, a set that leaves the bands is "
         "refused, one inside goes (after the key's answer wait: TX; is a read to the newer Yaesu)",
         {S::C(1, "FA;"), S::R(fa14), S::C(1, "TX;"), S::W("FA;TX;"), S::C(1, fa7 + "FA00014075000;"), S::T(300),
          S::W("FA;TX;FA00014075000;"), S::G(1, fa14 + "?;")},
         true, false, "by CAT (Kenwood TX;), role transmit, on 14.074000 MHz", ""},
        {"stale: read again just before the key; what follows the key waits behind it, and the server's answer "
         "reaches nobody",
         {S::C(1, "FA;"), S::R(fa14), S::T(501), S::C(1, "TX;"), S::C(1, "IF;"), S::W("FA;FA;"),
          S::R(fa7),  // moved meanwhile
          S::T(100), S::W("FA;FA;IF;"), S::G(1, fa14 + "?;"), S::R(report), S::T(600), S::C(1, "TX;"), S::R(fa14),
          S::T(100), S::W("FA;FA;IF;FA;TX;")},
         true, false, "outside the allowed bands: 7.074000 MHz", ""},
        {"a report counts; a set that went counts",
         {S::R(report), S::T(100), S::C(1, "FA00007100000;TX;")}, false, false, "outside the allowed bands: 7.100000 MHz",
         ""},
        {"no answer: the key is refused after the answer wait",
         {S::C(1, "TX;"), S::W("FA;"), S::T(300), S::G(1, ""), S::T(100), S::G(1, "?;")}, false, false,
         "the radio did not tell its frequency when asked", ""},
        {"an in-band key on a stale frequency: refused, the radio asked, the next key goes",
         {S::C(1, "FA;"), S::R(fa14), S::T(501), S::C(1, sim::kInBandKey), S::R(fa14), S::C(1, sim::kInBandKey)},
         true, true, "unknown or older than 500 ms: asked the radio now", ""},
        {"no language to read it in: the in-band key is refused and says so", {S::C(1, sim::kInBandKey)}, false, false,
         "frequency cannot be read", ""},
        {"5-byte: the server's read, its answer known by its place",
         {S::C(1, kFtKey), S::W(kFtRead), S::R(H({0x01, 0x40, 0x74, 0x00, 0x01})), S::T(100), S::W(kFtRead + kFtKey)},
         true, false, "on 14.074000 MHz", ""},
        {"CI-V: the transceive report, and the server's read to the client's addresses",
         {S::C(1, kCivRead), S::R(H({0xFE, 0xFE, 0x00, 0x94, 0x00, 0x00, 0x40, 0x07, 0x14, 0x00, 0xFD})),
          S::C(1, kCivKey), S::C(1, kCivSet)},
         true, false, "by CAT (CI-V 1C 00 01), role transmit, on 14.074000 MHz", kCivNg},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Roled app("transmit", {{"tx-allowed", "14000000-14350000"}, {"cache-ms", "2000"}});
        app.Run(row.steps);
        ASSERT_EQ(app.f.station.transmitter.Keyed(), row.keyed);
        if (row.keyed) {
            EXPECT_EQ(app.f.station.transmitter.Recent().back().hz, 14074000);
        }
        EXPECT_EQ(app.com.rtsHistory, std::vector<bool>(row.byRts, true));
        EXPECT_EQ(app.log.Count(row.logged), 1);
        EXPECT_NE(app.Client(1).sent.find(row.heard), Bytes::npos);
    }
}

}  // namespace
}  // namespace ovrin
