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

// Every key of `want` as it is in `got`.
void ExpectHas(const json& got, const json& want) {
    for (const auto& [key, value] : want.items()) EXPECT_EQ(got[key], value) << key;
}

void ExpectShown(const std::string& html, std::initializer_list<std::string> parts) {
    for (const std::string& part : parts) EXPECT_TRUE(Has(html, part)) << part;
}

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
         [](SimApp& a) { a.Load(); GoOffLine(a.f.station); a.f.chkComPortActiveInListen.SetValue(0); StartListening(a.f.station); },
         "Listening", false, "", "closed until a client connects"},
        {"off-line", [](SimApp& a) { a.Load(); GoOffLine(a.f.station); }, "Off-line", false, "", "<h1>Off-line</h1>"},
        {"on-line", [](SimApp& a) { a.Serve(1); }, "ON-LINE", true, "", "<b>open</b>"},
        {"no device", [](SimApp& a) { a.com.existing.clear(); a.Load(); a.sockets.RequestConnection(); }, "Off-line", false,
         "cannot be opened: Invalid port number", "class=\"problem\""},
        {"device lost", [](SimApp& a) { a.Serve(1); a.com.Unplug(); }, "ON-LINE", false,
         "the device is gone; trying it again every second", "class=\"problem\""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SimApp app;
        row.make(app);
        const Shown shown = Show(app);
        ExpectHas(shown.data, {{"state", row.state}, {"listen_port", 50000}});
        ExpectHas(shown.data["serial_port"], {{"name", "COM1"}, {"device", "/dev/sim1"}, {"line", "9600,n,8,2"},
                                              {"open", row.open}, {"problem", row.problem}, {"ptt_line", nullptr}});
        ExpectShown(shown.html, {std::string("<h1>") + row.state + "</h1>", row.shown, "COM1 (/dev/sim1), 9600,n,8,2"});
    }
}

TEST(StatusPage, EachClientWithItsPortLanguageAgeAndTheBytesOnItsWire) {
    SimApp app;
    app.f.station.Given.options = {{"clients", "3"}, {"rfc2217-port", "50001"}, {"allow", "198.51.100.7=monitor, 203.0.113.0/24"}};
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
    ExpectHas(shown.data, {{"state", "ON-LINE"}, {"clients_allowed", 3}, {"rfc2217_port", 50001}});
    const json& clients = shown.data["clients"];
    ASSERT_EQ(clients.size(), 2u);
    // bytes_out: every byte the client was sent (answers, telnet negotiation, escapes).
    // What each asked, and what the radio was spared: two commands written (FA; and
    // the remote serial port's byte) in the last 10 s, one read answered again.
    const json expected[] = {
        {{"address", "198.51.100.7"}, {"slot", 1}, {"connection", 1}, {"port", "raw"}, {"language", "Kenwood"}, {"role", "monitor"},
         {"connected_s", 2.6}, {"connected", "2026-12-08T12:00:00Z"}, {"bytes_in", 6}, {"bytes_out", 29},
         {"commands", 2}, {"cached", 1}, {"merged", 0}, {"asks", json::array({"Kenwood FA;"})}},
        {{"address", "203.0.113.9"}, {"slot", 2}, {"connection", 2}, {"port", "rfc2217"}, {"language", "not known yet"}, {"role", "transmit"},
         {"connected_s", 1.1}, {"connected", "2026-12-08T12:00:01Z"}, {"bytes_in", 2},
         {"bytes_out", app.Client(2).sent.size()}, {"cached", 0}},
    };
    EXPECT_EQ(app.Client(1).sent.size(), 29u);  // the answer twice, and the radio's 0xFF as it said it
    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const json& e = expected[i];
        ExpectHas(clients[i], e);
        // On the page the connection stands beside the address, as the log's label has it.
        const std::string which = "slot " + std::to_string(i + 1) + ", connection " + std::to_string(i + 1);
        EXPECT_TRUE(Has(clients[i]["label"].get<std::string>(), which));
        ExpectShown(shown.html, {"<td>" + e["address"].get<std::string>() + "</td><td>" + which + "</td>",
                                 "<td>" + e["language"].get<std::string>() + "</td><td>" + e["role"].get<std::string>() + "</td>"});
    }
    ExpectHas(shown.data["radio"], {{"commands_per_s", 0.2}, {"reads_sent", 1}, {"reads_cached", 1}, {"cache_ms", 250}});
    ExpectShown(shown.html, {"0.2 commands/s to the radio; reads answered without it: 1 from a read in hand",
                             "Clients (2 of 3)", "remote serial port"});
}

TEST(StatusPage, TheTransmitterWhoKeyedItHowForHowLongAndTheRecord) {
    SimApp app;
    app.Serve(2);
    app.f.chkCtrlPTT.SetValue(1);
    app.Send(1, "TX;");
    app.clock.Advance(2500);
    Shown shown = Show(app);
    ExpectHas(shown.data["transmitter"], {{"keyed", true}, {"client", "Client 198.51.100.1 (slot 1, connection 1)"},
                                          {"how", "CAT (Kenwood TX;)"}, {"seconds", 2.5}, {"since", "2026-12-08T12:00:00Z"}});
    ExpectShown(shown.html, {"TRANSMITTING for 2.5 s", "<title>ON-LINE TX"});

    app.Send(1, "RX;");
    app.clock.Advance(500);
    app.Send(2, "\x1B\x1B" "ATH1");
    app.clock.Advance(75000);  // the watchdog ends it at 10 s
    shown = Show(app);
    EXPECT_EQ(shown.data["transmitter"], json({{"keyed", false}}));
    EXPECT_EQ(shown.data["serial_port"]["ptt_line"], "RTS");
    EXPECT_TRUE(Has(shown.html, "Not keyed (RTS is the PTT line)"));
    const json& record = shown.data["transmissions"];
    ASSERT_EQ(record.size(), 2u);
    // Nobody read the frequency.
    const json expected[] = {
        {{"client", "Client 198.51.100.1 (slot 1, connection 1)"}, {"how", "CAT (Kenwood TX;)"}, {"seconds", 2.5},
         {"ended", "released by CAT (Kenwood RX;)"}, {"role", "transmit"}, {"frequency", ""}},
        {{"client", "Client 198.51.100.1 (slot 2, connection 2)"}, {"how", "RTS (in-band command)"}, {"seconds", 10.0},
         {"ended", "the watchdog: no key command for 10 s"}, {"role", "transmit"}, {"frequency", ""}},
    };
    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        ExpectHas(record[i], expected[i]);
        EXPECT_TRUE(Has(shown.html, expected[i]["ended"].get<std::string>()));
    }
    // Newest first on the page.
    EXPECT_LT(shown.html.find("the watchdog"), shown.html.find("released by CAT"));
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
    EXPECT_EQ(std::tuple(app.log.lines.size() - before, app.log.lines.back().size()), std::tuple(65u, 1000u));  // whole

    const Shown shown = Show(app, recent.Lines());
    const json& log = shown.data["log"];
    ASSERT_EQ(log.size(), status::RecentLog::kKept);
    EXPECT_EQ(std::pair(log[0]["text"], log[49]["level"]), std::pair(json("line 16"), json("error")));
    EXPECT_EQ(log[49]["text"].get<std::string>().size(), status::RecentLog::kLongestKept + 3);
    EXPECT_EQ(log[47]["text"], "\xEF\xBF\xBD\xEF\xBF\xBD device");  // not UTF-8: replaced
    for (const auto& h : hostile) EXPECT_TRUE(Has(shown.html, h.html)) << h.text;
    EXPECT_FALSE(Has(shown.html, "<script>alert") || Has(shown.html, "line 15<"));
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
    EXPECT_EQ(log.lines.back(), "Status page: 2 malformed requests refused, the last from 192.0.2.3 (logged once a minute)");
    incidents.Add(counts({{Incident::Oversized, "192.0.2.9"}, {Incident::Slow, "192.0.2.9"}}), 61000);
    incidents.Add(counts({{Incident::Malformed, "192.0.2.1"}}), 65000);
    incidents.Add({}, 119999);
    EXPECT_EQ(log.lines.size(), 6u);
    EXPECT_TRUE(log.Has({"an oversized request from 192.0.2.9 refused"}) && log.Has({"a request from 192.0.2.9 closed: too slow"}));
    incidents.Add({}, 120000);
    EXPECT_EQ(log.lines.back(), "Status page: a malformed request from 192.0.2.1 refused (logged once a minute)");
}

// A server that records what the publisher gave it.
struct FakeServer : status::PageServer {
    explicit FakeServer(int port) : port(port) {}
    int port;
    std::vector<std::optional<bool>> allowsLocal;  // per Allow: does it let 127.0.0.1 in (none: nobody)
    status::IncidentCounts pending;
    void Publish(status::StatusSnapshot) override {}
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
            auto server = std::make_unique<FakeServer>(port);
            last = server.get();
            return server;
        },
        [&] { return options; },
        [&] { return ++snapshots, status::StatusSnapshot{}; });
    for (const auto& step : steps) {
        SCOPED_TRACE(std::to_string(step.port) + " " + step.allow);
        options = {step.port, step.allow};
        const std::size_t lines = log.lines.size();
        page.Publish();
        EXPECT_EQ(std::pair(opens, page.PublishTimer().Enabled()), std::pair(step.opens, step.serving));
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
