// What the status page and its JSON show, made from the running model on the
// simulated platform: the state and the serial port in each case, the clients with
// their bytes each way, the transmitter and its record, the log's last lines, and
// what visitors did wrong reaching the log once a minute.
#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>

#include "net/ComPortClient.h"
#include "net/Listener.h"
#include "sim/SimPlatform.h"
#include "status/Incidents.h"
#include "status/RecentLog.h"
#include "status/StatusPage.h"
#include "status/StatusPublisher.h"
#include "ui/StatusView.h"

namespace ovrin {
namespace {

using nlohmann::json;
using sim::SimApp;

struct Shown {
    json data;
    std::string html;
};

Shown Show(SimApp& app, std::vector<status::LogLine> log = {}) {
    const status::StatusSnapshot s = StatusSnapshotOf(app.f, std::move(log));
    return {json::parse(status::StatusJson(s)), status::StatusHtml(s)};
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(StatusPage, TheStateAndTheSerialPortAsTheyAreAndWhyNot) {
    const struct {
        const char* name;
        std::function<void(SimApp&)> make;
        const char* state;
        bool open;
        const char* problem;  // "" for none
        const char* shown;    // on the page
    } rows[] = {
        {"listening, port kept open", [](SimApp& a) { a.Load(); }, "Listening", true, "", "<b>open</b>"},
        {"listening",
         [](SimApp& a) {
             a.Load();
             GoOffLine(a.f.station);
             a.f.chkComPortActiveInListen.SetValue(0);
             StartListening(a.f.station);
         },
         "Listening", false, "", "closed until a client connects"},
        {"off-line", [](SimApp& a) { a.Load(); GoOffLine(a.f.station); }, "Off-line", false, "", "<h1>Off-line</h1>"},
        {"on-line", [](SimApp& a) { a.Serve(1); }, "ON-LINE", true, "", "<b>open</b>"},
        {"no device",
         [](SimApp& a) {
             a.com.existing.clear();
             a.Load();
             a.sockets.RequestConnection();
         },
         "Off-line", false, "cannot be opened: Invalid port number", "class=\"problem\""},
        {"device lost", [](SimApp& a) { a.Serve(1); a.com.Unplug(); }, "ON-LINE", false,
         "the device is gone; trying it again every second", "class=\"problem\""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SimApp app;
        row.make(app);
        const Shown shown = Show(app);
        EXPECT_EQ(shown.data["state"], row.state);
        EXPECT_EQ(shown.data["listen_port"], 50000);
        const json& port = shown.data["serial_port"];
        EXPECT_EQ(port["name"], "COM1");
        EXPECT_EQ(port["device"], "/dev/sim1");
        EXPECT_EQ(port["line"], "9600,n,8,2");
        EXPECT_EQ(port["open"], row.open);
        EXPECT_EQ(port["problem"], row.problem);
        EXPECT_EQ(port["ptt_line"], nullptr);  // PTT control off
        EXPECT_TRUE(Has(shown.html, std::string("<h1>") + row.state + "</h1>"));
        EXPECT_TRUE(Has(shown.html, row.shown));
        EXPECT_TRUE(Has(shown.html, "COM1 (/dev/sim1), 9600,n,8,2"));
    }
}

TEST(StatusPage, EachClientWithItsPortLanguageAgeAndTheBytesOnItsWire) {
    SimApp app;
    app.f.station.settings.options.rfc2217Port = 50001;
    app.f.station.settings.options.clients = 3;
    app.f.station.settings.options.allow = "198.51.100.7=monitor, 203.0.113.0/24";
    app.Load();
    ASSERT_TRUE(app.sockets.RequestConnection("198.51.100.7"));
    app.clock.Advance(1500);
    ASSERT_TRUE(app.sockets.RequestConnection("203.0.113.9", kComPortListener));
    app.Send(1, "FA;");
    app.Radio("FA00014074000;");
    app.Send(1, "FA;");  // answered again from the radio's answer, without the radio
    // An RFC 2217 client's data byte 0xFF goes doubled on its wire.
    app.Send(2, "\xFF\xFF");
    app.Radio("\xFF");
    app.clock.Advance(1000);

    const Shown shown = Show(app);
    EXPECT_EQ(shown.data["state"], "ON-LINE");
    EXPECT_EQ(shown.data["clients_allowed"], 3);
    EXPECT_EQ(shown.data["rfc2217_port"], 50001);
    const json& clients = shown.data["clients"];
    ASSERT_EQ(clients.size(), 2u);
    const struct {
        const char* address;
        const char* port;
        const char* language;
        const char* role;
        double connectedS;
        const char* since;
        std::size_t bytesIn;
    } expected[] = {
        {"198.51.100.7", "raw", "Kenwood", "monitor", 2.6, "2026-12-08T12:00:00Z", 6},
        {"203.0.113.9", "rfc2217", "not known yet", "transmit", 1.1, "2026-12-08T12:00:01Z", 2},
    };
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const json& c = clients[static_cast<std::size_t>(i)];
        EXPECT_EQ(c["address"], expected[i].address);
        EXPECT_EQ(c["slot"], i + 1);
        EXPECT_EQ(c["port"], expected[i].port);
        EXPECT_EQ(c["language"], expected[i].language);
        EXPECT_EQ(c["role"], expected[i].role);
        EXPECT_TRUE(Has(shown.html, std::string("<td>") + expected[i].language + "</td><td>" + expected[i].role + "</td>"));
        EXPECT_EQ(c["connected_s"], expected[i].connectedS);
        EXPECT_EQ(c["connected"], expected[i].since);
        EXPECT_EQ(c["bytes_in"], expected[i].bytesIn);
        // Every byte the client was sent: answers, telnet negotiation, escapes.
        EXPECT_EQ(c["bytes_out"], app.Client(static_cast<int16_t>(i + 1)).sent.size());
        EXPECT_EQ(c["connection"], i + 1);
        // On the page the connection stands beside the address, as the log's label has it.
        const std::string which = "slot " + std::to_string(i + 1) + ", connection " + std::to_string(i + 1);
        EXPECT_TRUE(Has(c["label"].get<std::string>(), which));
        EXPECT_TRUE(Has(shown.html, std::string("<td>") + expected[i].address + "</td><td>" + which + "</td>"));
    }
    EXPECT_EQ(clients[0]["bytes_out"], 29u);  // the answer twice, and the radio's 0xFF as it said it
    // What each asked, and what the radio was spared: two commands written (FA;
    // and the remote serial port's byte) in the last 10 s, one read answered again.
    EXPECT_EQ(clients[0]["commands"], 2u);
    EXPECT_EQ(clients[0]["cached"], 1u);
    EXPECT_EQ(clients[0]["merged"], 0u);
    EXPECT_EQ(clients[0]["asks"], json::array({"Kenwood FA;"}));
    EXPECT_EQ(clients[1]["cached"], 0u);
    const json& radio = shown.data["radio"];
    EXPECT_EQ(radio["commands_per_s"], 0.2);
    EXPECT_EQ(radio["reads_sent"], 1u);
    EXPECT_EQ(radio["reads_cached"], 1u);
    EXPECT_EQ(radio["cache_ms"], 250);
    EXPECT_TRUE(Has(shown.html, "0.2 commands/s to the radio; reads answered without it: 1 from a read in hand"));
    EXPECT_TRUE(Has(shown.html, "Clients (2 of 3)"));
    EXPECT_TRUE(Has(shown.html, "remote serial port"));
}

TEST(StatusPage, TheTransmitterWhoKeyedItHowForHowLongAndTheRecord) {
    SimApp app;
    app.Serve(2);
    app.f.chkCtrlPTT.SetValue(1);
    app.Send(1, "TX;");
    app.clock.Advance(2500);
    Shown shown = Show(app);
    const json& tx = shown.data["transmitter"];
    EXPECT_EQ(tx["keyed"], true);
    EXPECT_EQ(tx["client"], "Client 198.51.100.1 (slot 1, connection 1)");
    EXPECT_EQ(tx["how"], "CAT (Kenwood TX;)");
    EXPECT_EQ(tx["seconds"], 2.5);
    EXPECT_EQ(tx["since"], "2026-12-08T12:00:00Z");
    EXPECT_TRUE(Has(shown.html, "TRANSMITTING for 2.5 s"));
    EXPECT_TRUE(Has(shown.html, "<title>ON-LINE TX"));

    app.Send(1, "RX;");
    app.clock.Advance(500);
    app.Send(2, "\x1B\x1B" "ATH1");
    app.clock.Advance(75000);  // the watchdog ends it at 10 s
    shown = Show(app);
    EXPECT_EQ(shown.data["transmitter"], json({{"keyed", false}}));
    EXPECT_TRUE(Has(shown.html, "Not keyed (RTS is the PTT line)"));
    EXPECT_EQ(shown.data["serial_port"]["ptt_line"], "RTS");
    const json& record = shown.data["transmissions"];
    ASSERT_EQ(record.size(), 2u);
    const struct {
        const char* client;
        const char* how;
        double seconds;
        const char* ended;
    } expected[] = {
        {"Client 198.51.100.1 (slot 1, connection 1)", "CAT (Kenwood TX;)", 2.5, "released by CAT (Kenwood RX;)"},
        {"Client 198.51.100.1 (slot 2, connection 2)", "RTS (in-band command)", 10.0,
         "the watchdog: no key command for 10 s"},
    };
    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(record[i]["client"], expected[i].client);
        EXPECT_EQ(record[i]["how"], expected[i].how);
        EXPECT_EQ(record[i]["seconds"], expected[i].seconds);
        EXPECT_EQ(record[i]["ended"], expected[i].ended);
        EXPECT_EQ(record[i]["role"], "transmit");
        EXPECT_EQ(record[i]["frequency"], "");  // nobody read it
        EXPECT_TRUE(Has(shown.html, expected[i].ended));
    }
    // Newest first on the page.
    EXPECT_LT(shown.html.find("the watchdog"), shown.html.find("released by CAT"));

    app.f.station.settings.options.pttLine = PttLine::Dtr;
    shown = Show(app);
    EXPECT_TRUE(Has(shown.html, "Not keyed (DTR is the PTT line)"));
    EXPECT_EQ(shown.data["serial_port"]["ptt_line"], "DTR");
}

TEST(StatusPage, TheLogsLastLinesWhateverBytesTheyHold) {
    SimApp app;
    app.Load();
    status::RecentLog recent(app.log, app.host);
    const std::size_t before = app.log.lines.size();
    for (int i = 1; i <= 60; ++i) recent.Line(LogLevel::Info, "line " + std::to_string(i));
    const struct {
        const char* text;
        const char* html;
    } hostile[] = {
        {"<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"},
        {"a\"b'c&d", "a&quot;b&#39;c&amp;d"},
        {"\xFF\xFE device", "\xFF\xFE device"},
        {"two\r\nlines", "two  lines"},
    };
    for (const auto& h : hostile) recent.Line(LogLevel::Warning, h.text);
    recent.Line(LogLevel::Error, std::string(1000, 'x'));
    EXPECT_EQ(app.log.lines.size() - before, 65u);  // every line goes on, whole
    EXPECT_EQ(app.log.lines.back().size(), 1000u);

    const Shown shown = Show(app, recent.Lines());
    const json& log = shown.data["log"];
    ASSERT_EQ(log.size(), status::RecentLog::kKept);
    EXPECT_EQ(log[0]["text"], "line 16");
    EXPECT_EQ(log[49]["level"], "error");
    EXPECT_EQ(log[49]["text"].get<std::string>().size(), status::RecentLog::kLongestKept + 3);
    EXPECT_EQ(log[47]["text"], "\xEF\xBF\xBD\xEF\xBF\xBD device");  // not UTF-8: replaced
    for (const auto& h : hostile) EXPECT_TRUE(Has(shown.html, h.html)) << h.text;
    EXPECT_FALSE(Has(shown.html, "<script>alert"));
    EXPECT_FALSE(Has(shown.html, "line 15<"));
}

TEST(StatusIncidents, EachKindAtOnceThenAtMostOnceAMinuteWithItsCount) {
    sim::SimLog log;
    status::IncidentLog incidents(log);
    const auto counts = [](std::initializer_list<std::pair<status::Incident, const char*>> seen) {
        status::IncidentCounts c;
        for (const auto& [kind, address] : seen) c.Add(kind, address);
        return c;
    };
    using status::Incident;
    incidents.Add(counts({{Incident::Malformed, "192.0.2.1"}}), 0);
    incidents.Add(counts({{Incident::Malformed, "192.0.2.2"}, {Incident::Malformed, "192.0.2.3"},
                          {Incident::Refused, "203.0.113.5"}}),
                  10000);
    incidents.Add(counts({{Incident::Crowded, "192.0.2.4"}}), 30000);
    incidents.Add({}, 59999);
    const std::vector<std::string> soFar = {
        "Status page: a malformed request from 192.0.2.1 refused (logged once a minute)",
        "Status page: a visitor from 203.0.113.5 refused: not on the allow-list (logged once a minute)",
        "Status page: a visitor from 192.0.2.4 turned away: too many connections at once (logged once a minute)",
    };
    EXPECT_EQ(log.lines, soFar);
    incidents.Add({}, 60000);
    ASSERT_EQ(log.lines.size(), 4u);
    EXPECT_EQ(log.lines[3], "Status page: 2 malformed requests refused, the last from 192.0.2.3 (logged once a minute)");
    incidents.Add(counts({{Incident::Oversized, "192.0.2.9"}, {Incident::Slow, "192.0.2.9"}}), 61000);
    incidents.Add(counts({{Incident::Malformed, "192.0.2.1"}}), 65000);
    incidents.Add({}, 119999);
    EXPECT_EQ(log.lines.size(), 6u);
    EXPECT_TRUE(log.Has({"an oversized request from 192.0.2.9 refused"}));
    EXPECT_TRUE(log.Has({"a request from 192.0.2.9 closed: too slow"}));
    incidents.Add({}, 120000);
    EXPECT_EQ(log.lines.back(), "Status page: a malformed request from 192.0.2.1 refused (logged once a minute)");
}

}  // namespace
}  // namespace ovrin

namespace ovrin {
namespace {

// A server that records what the publisher gave it.
struct FakeServer : status::PageServer {
    int port = 0;
    int published = 0;
    std::vector<std::optional<bool>> allowsLocal;  // per Allow: does it let 127.0.0.1 in (none: nobody)
    status::IncidentCounts pending;
    void Publish(status::StatusSnapshot) override { ++published; }
    void Allow(std::optional<AllowList> list) override {
        allowsLocal.push_back(list ? std::optional<bool>(list->Allows("127.0.0.1")) : std::nullopt);
    }
    status::IncidentCounts TakeIncidents() override { return std::exchange(pending, {}); }
};

// The page follows the options at each publication: opened on the port, moved
// when it changes (the old one closed), a port it cannot take told once; its door
// follows the allow option, and one that cannot be read lets nobody in; it ticks
// only while a page is served; visitors' faults reach the log.
TEST(StatusPublisher, FollowsThePortAndTheAllowListAndTellsEachFailureOnce) {
    const struct {
        int port;
        std::string allow;
        int opens;              // servers opened so far
        bool serving;           // a server is there and the timer runs
        std::optional<bool> lets;  // the last Allow given: 127.0.0.1 let in (nullopt: nobody)
        const char* logged;     // a line that must be there ("" for none)
    } steps[] = {
        {0, "", 0, false, std::nullopt, ""},
        {8080, "", 1, true, true, "Status page (read-only) on TCP port 8080 of 127.0.0.1"},
        {8080, "", 1, true, true, ""},  // nothing changed: nothing reopened
        {8080, "10.0.0.0/8", 1, true, false, ""},
        {8080, "10.0.0.0/33", 1, true, std::nullopt, ""},
        {8081, "127.0.0.1", 2, true, true, "Status page on TCP port 8080 closed"},
        {9999, "127.0.0.1", 3, false, true, "Status page: cannot listen on TCP port 9999: in use"},
        {9999, "127.0.0.1", 3, false, true, ""},  // not tried again at every tick
        {0, "", 3, false, true, ""},
    };
    sim::SimLog log;
    int64_t now = 0;
    int opens = 0;
    FakeServer* last = nullptr;
    status::PageOptions options;
    int snapshots = 0;
    status::StatusPublisher page(
        log, [&] { return now; }, "127.0.0.1",
        [&](int port, std::string& why) -> std::unique_ptr<status::PageServer> {
            ++opens;
            if (port == 9999) {
                why = "in use";
                return nullptr;
            }
            auto server = std::make_unique<FakeServer>();
            server->port = port;
            last = server.get();
            return server;
        },
        [&] { return options; },
        [&] {
            ++snapshots;
            return status::StatusSnapshot{};
        });
    for (const auto& step : steps) {
        SCOPED_TRACE(std::to_string(step.port) + " " + step.allow);
        options = {step.port, step.allow};
        const std::size_t lines = log.lines.size();
        page.Publish();
        EXPECT_EQ(opens, step.opens);
        EXPECT_EQ(page.PublishTimer().Enabled(), step.serving);
        if (step.serving) {
            ASSERT_NE(last, nullptr);
            EXPECT_EQ(last->port, step.port);
            ASSERT_FALSE(last->allowsLocal.empty());
            EXPECT_EQ(last->allowsLocal.back(), step.lets);
        }
        if (*step.logged) {
            EXPECT_TRUE(log.Has({step.logged}));
        } else {
            EXPECT_EQ(log.lines.size(), lines) << log.lines.back();
        }
    }
    // Visitors' faults, from the server to the log.
    options = {8082, ""};
    page.Publish();
    last->pending.Add(status::Incident::Refused, "192.0.2.9");
    now = 1000;
    page.Publish();
    EXPECT_TRUE(log.Has({"192.0.2.9"}));
    EXPECT_GT(snapshots, 0);
}

}  // namespace
}  // namespace ovrin
