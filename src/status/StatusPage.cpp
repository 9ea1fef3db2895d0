#include "status/StatusPage.h"

#include <chrono>
#include <cstdio>

#include <nlohmann/json.hpp>

namespace ovrin::status {
namespace {

// Text from the log or a client's label as HTML: markup escaped, control bytes
// (which no label should hold) shown as spaces.
std::string Html(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        switch (ch) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F ? ' ' : ch;
        }
    }
    return out;
}

std::string TimeOfDay(int64_t wallMs) {
    const std::string stamp = UtcStamp(wallMs);
    return stamp.substr(11, 8);
}

const char* StateClass(StatusSnapshot::State state) {
    switch (state) {
        case StatusSnapshot::State::OnLine: return "online";
        case StatusSnapshot::State::Listening: return "listening";
        case StatusSnapshot::State::OffLine: break;
    }
    return "offline";
}

std::string SerialText(const StatusSnapshot::Serial& p) {
    std::string text = Html(p.name);
    if (!p.device.empty()) text += " (" + Html(p.device) + ")";
    text += ", " + Html(p.line) + ": ";
    if (p.open) text += "<b>open</b>";
    else text += "closed";
    if (!p.problem.empty()) text += " &mdash; <span class=\"problem\">" + Html(p.problem) + "</span>";
    else if (!p.open) text += p.keptOpen ? "" : " until a client connects";
    return text;
}

std::string Joined(const std::vector<std::string>& items) {
    std::string all;
    for (const std::string& item : items) all += (all.empty() ? "" : ", ") + item;
    return all;
}

// The radio's load: what reaches it, and what the shared reads spared it.
std::string RadioText(const StatusSnapshot::Radio& r) {
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.1f", r.commandsPerSecond);
    return std::string(rate) + " commands/s to the radio; reads answered without it: " + std::to_string(r.cached) +
           " from a read in hand, " + std::to_string(r.merged) + " merged into one on its way (" +
           std::to_string(r.sent) + " shared reads written); " +
           (r.cacheMs == 0 ? std::string("every read to the radio") : "reads answered again for " + std::to_string(r.cacheMs) + " ms") +
           (r.reports ? ", the radio's reports on" : "");
}

void Clients(std::string& page, const StatusSnapshot& s) {
    page += "<section><h2>Clients (" + std::to_string(s.clients.size()) + " of " +
            std::to_string(s.clientsAllowed) + ")</h2>\n";
    if (s.clients.empty()) {
        page += "<p class=\"quiet\">None connected.</p></section>\n";
        return;
    }
    // The connection beside the address: two clients from one address are told
    // apart as the log tells them ("Client 192.0.2.7 (slot 1, connection 3)").
    page += "<table><tr><th>Address</th><th>Connection</th><th>Port</th><th>Language</th><th>Role</th><th>Connected since</th>"
            "<th class=\"n\">Bytes in</th><th class=\"n\">Bytes out</th><th class=\"n\">Commands</th>"
            "<th class=\"n\">From a read in hand</th><th class=\"n\">Merged</th><th>Asks</th></tr>\n";
    for (const ClientStatus& c : s.clients) {
        page += "<tr title=\"" + Html(c.label) + "\"><td>" + Html(c.address) + "</td><td>slot " +
                std::to_string(c.slot) + ", connection " + std::to_string(c.connection) + "</td><td>" +
                (c.remoteSerialPort ? "remote serial port" : "raw") + "</td><td>" + Html(c.language) +
                "</td><td>" + Html(c.role) + "</td><td>" + TimeOfDay(c.connectedWallMs) + " UTC (" + Duration(c.connectedForMs) +
                ")</td><td class=\"n\">" + std::to_string(c.bytesIn) + "</td><td class=\"n\">" +
                std::to_string(c.bytesOut) + "</td><td class=\"n\">" + std::to_string(c.commands) +
                "</td><td class=\"n\">" + std::to_string(c.cached) + "</td><td class=\"n\">" +
                std::to_string(c.merged) + "</td><td>" + Html(Joined(c.asked)) + "</td></tr>\n";
    }
    page += "</table></section>\n";
}

void Transmitter(std::string& page, const StatusSnapshot& s) {
    page += "<section><h2>Transmitter</h2>\n";
    if (s.keyed) {
        const TransmissionStatus& t = s.transmitting;
        page += "<p class=\"tx keyed\">TRANSMITTING for " + Duration(t.lastedMs) + "</p><p>keyed by " +
                Html(t.client) + " by " + Html(t.how) + " at " + TimeOfDay(t.startedWallMs) + " UTC</p>\n";
    } else {
        page += "<p class=\"tx\">Not keyed" +
                (s.serial.pttLine.empty() ? std::string() : " (" + Html(s.serial.pttLine) + " is the PTT line)") +
                "</p>\n";
    }
    if (!s.transmissions.empty()) {
        page += "<table><tr><th>Started</th><th class=\"n\">Lasted</th><th>Client</th><th>Keyed by</th>"
                "<th>Ended</th></tr>\n";
        for (auto t = s.transmissions.rbegin(); t != s.transmissions.rend(); ++t) {
            page += "<tr><td>" + TimeOfDay(t->startedWallMs) + "</td><td class=\"n\">" + Duration(t->lastedMs) +
                    "</td><td>" + Html(t->client) + (t->role.empty() ? std::string() : " (" + Html(t->role) + ")") +
                    "</td><td>" + Html(t->how) + (t->frequency.empty() ? std::string() : " on " + Html(t->frequency)) +
                    "</td><td>" +
                    (t->ongoing ? std::string("<b>keyed now</b>") : Html(t->ended)) + "</td></tr>\n";
        }
        page += "</table>\n";
    }
    page += "</section>\n";
}

void Log(std::string& page, const StatusSnapshot& s) {
    page += "<section><h2>Log <span class=\"quiet\">(the last " + std::to_string(s.log.size()) +
            " lines, newest first)</span></h2>\n<div class=\"log\">";
    for (auto line = s.log.rbegin(); line != s.log.rend(); ++line) {
        const char* kind = line->severity == LogSeverity::Error     ? " class=\"error\""
                           : line->severity == LogSeverity::Warning ? " class=\"warning\""
                                                                    : "";
        page += "<div" + std::string(kind) + "><time>" + TimeOfDay(line->wallMs) + "</time> " + Html(line->text) +
                "</div>\n";
    }
    page += "</div></section>\n";
}

// Small and self-contained: the page fetches nothing but itself.
constexpr const char* kStyle = R"(<style>
body{font:15px/1.4 "DejaVu Sans",Verdana,sans-serif;margin:0;background:#f4f5f7;color:#1d2329}
header{padding:12px 20px;color:#fff;background:#6b7280}
header.listening{background:#2f6fb3} header.online{background:#1f8a3b}
header h1{margin:0;font-size:28px;letter-spacing:1px} header p{margin:2px 0 0}
main{padding:4px 20px 16px;max-width:1100px}
section{background:#fff;border:1px solid #d9dde3;border-radius:6px;margin:12px 0;padding:8px 14px}
h2{font-size:16px;margin:4px 0 8px} .quiet{color:#6b7280;font-weight:normal}
table{border-collapse:collapse;width:100%} th,td{text-align:left;padding:3px 8px 3px 0;border-bottom:1px solid #eceef1}
th{font-size:13px;color:#4b5563} .n{text-align:right}
.tx{font-size:18px;font-weight:bold;margin:4px 0} .tx.keyed{color:#fff;background:#c62828;display:inline-block;padding:2px 10px;border-radius:4px}
.problem{color:#b45309;font-weight:bold}
.log{font:13px/1.35 "DejaVu Sans Mono",monospace;max-height:24em;overflow-y:auto}
.log time{color:#6b7280} .warning{color:#92400e} .error{color:#b91c1c}
footer{color:#6b7280;font-size:13px;padding:0 20px 16px} footer.stale{color:#b91c1c;font-weight:bold}
</style>)";

// Every second the page asks for itself and swaps in the new content; the marker
// stays on the window, so a test can tell a swap from a reload. A server that stops
// answering is said so, instead of showing its last state as current.
constexpr const char* kScript = R"(<script>
(function(){
  var lastAnswer = Date.now();
  function tick(){
    fetch(location.pathname, {cache: "no-store"}).then(function(r){
      if (!r.ok) throw new Error(r.status);
      return r.text();
    }).then(function(text){
      var next = new DOMParser().parseFromString(text, "text/html");
      var fresh = next.getElementById("status");
      if (fresh) { document.getElementById("status").replaceWith(fresh); document.title = next.title; }
      lastAnswer = Date.now();
    }).catch(function(){
      var f = document.querySelector("footer");
      if (f) { f.className = "stale"; f.textContent = "No answer from the server for " +
        Math.round((Date.now() - lastAnswer) / 1000) + " s: what is shown may be out of date."; }
    }).finally(function(){ setTimeout(tick, 1000); });
  }
  setTimeout(tick, 1000);
})();
</script>)";

}  // namespace

std::string StateText(StatusSnapshot::State state) {
    switch (state) {
        case StatusSnapshot::State::OnLine: return "ON-LINE";
        case StatusSnapshot::State::Listening: return "Listening";
        case StatusSnapshot::State::OffLine: break;
    }
    return "Off-line";
}

std::string UtcStamp(int64_t wallMs) {
    using namespace std::chrono;
    const sys_time<milliseconds> t{milliseconds{wallMs}};
    const sys_days day = floor<days>(t);
    const year_month_day date{day};
    const hh_mm_ss<seconds> time{floor<seconds>(t - day)};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

std::string Duration(int64_t ms) {
    if (ms < 0) ms = 0;
    char text[32];
    const int64_t s = ms / 1000;
    if (s < 60) std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms / 100) / 10.0);
    else if (s < 3600) std::snprintf(text, sizeof text, "%d min %02d s", static_cast<int>(s / 60), static_cast<int>(s % 60));
    else if (s < 86400) std::snprintf(text, sizeof text, "%d h %02d min", static_cast<int>(s / 3600), static_cast<int>(s / 60 % 60));
    else std::snprintf(text, sizeof text, "%d d %02d h", static_cast<int>(s / 86400), static_cast<int>(s / 3600 % 24));
    return text;
}

std::string StatusHtml(const StatusSnapshot& s) {
    const std::string state = StateText(s.state);
    const std::string on = s.hostName.empty() ? "" : " on " + Html(s.hostName);
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>" +
        state + (s.keyed ? " TX" : "") + " &middot; Ovrin-Server" + on +
        "</title>\n<noscript><meta http-equiv=\"refresh\" content=\"2\"></noscript>\n" + kStyle +
        "\n</head><body><div id=\"status\">\n<header class=\"" + StateClass(s.state) + "\"><h1>" + state +
        "</h1><p>" + Html(s.version) + on;
    if (s.state != StatusSnapshot::State::OffLine) {
        page += " &middot; TCP port " + std::to_string(s.listenPort);
        if (s.remoteSerialPort) page += " &middot; remote serial port (RFC 2217) " + std::to_string(s.remoteSerialPort);
    }
    page += "</p></header>\n<main>\n";
    Transmitter(page, s);
    page += "<section><h2>Serial port</h2><p>" + SerialText(s.serial) + "</p><p>" + Html(RadioText(s.radio)) +
            "</p></section>\n";
    Clients(page, s);
    Log(page, s);
    page += "</main>\n<footer>Updated " + TimeOfDay(s.wallMs) + " UTC; every second. Also as " +
            "<a href=\"/status.json\">/status.json</a>.</footer>\n</div>\n" + kScript + "\n</body></html>\n";
    return page;
}

std::string StatusJson(const StatusSnapshot& s) {
    using json = nlohmann::ordered_json;
    const auto seconds = [](int64_t ms) { return static_cast<double>(ms / 100) / 10.0; };
    json clients = json::array();
    for (const ClientStatus& c : s.clients) {
        clients.push_back({{"label", c.label},
                           {"address", c.address},
                           {"slot", c.slot},
                           {"connection", c.connection},
                           {"port", c.remoteSerialPort ? "rfc2217" : "raw"},
                           {"language", c.language},
                           {"role", c.role},
                           {"connected", UtcStamp(c.connectedWallMs)},
                           {"connected_s", seconds(c.connectedForMs)},
                           {"bytes_in", c.bytesIn},
                           {"bytes_out", c.bytesOut},
                           {"commands", c.commands},
                           {"cached", c.cached},
                           {"merged", c.merged},
                           {"asks", c.asked}});
    }
    json transmissions = json::array();
    for (const TransmissionStatus& t : s.transmissions) {
        transmissions.push_back({{"client", t.client},
                                 {"how", t.how},
                                 {"role", t.role},
                                 {"frequency", t.frequency},
                                 {"started", UtcStamp(t.startedWallMs)},
                                 {"seconds", seconds(t.lastedMs)},
                                 {"ended", t.ongoing ? json(nullptr) : json(t.ended)}});
    }
    json transmitter = {{"keyed", s.keyed}};
    if (s.keyed) {
        transmitter["client"] = s.transmitting.client;
        transmitter["how"] = s.transmitting.how;
        transmitter["since"] = UtcStamp(s.transmitting.startedWallMs);
        transmitter["seconds"] = seconds(s.transmitting.lastedMs);
    }
    json log = json::array();
    for (const LogLine& line : s.log) {
        log.push_back({{"time", UtcStamp(line.wallMs)},
                       {"level", line.severity == LogSeverity::Error     ? "error"
                                 : line.severity == LogSeverity::Warning ? "warning"
                                                                         : "info"},
                       {"text", line.text}});
    }
    const json document = {
        {"version", s.version},
        {"host", s.hostName},
        {"time", UtcStamp(s.wallMs)},
        {"state", StateText(s.state)},
        {"listen_port", s.listenPort},
        {"rfc2217_port", s.remoteSerialPort ? json(s.remoteSerialPort) : json(nullptr)},
        {"clients_allowed", s.clientsAllowed},
        {"serial_port",
         {{"name", s.serial.name},
          {"device", s.serial.device},
          {"line", s.serial.line},
          {"open", s.serial.open},
          {"problem", s.serial.problem},
          {"kept_open", s.serial.keptOpen},
          {"ptt_line", s.serial.pttLine.empty() ? json(nullptr) : json(s.serial.pttLine)}}},
        {"radio",
         {{"commands_per_s", static_cast<double>(static_cast<int64_t>(s.radio.commandsPerSecond * 10 + 0.5)) / 10.0},
          {"reads_sent", s.radio.sent},
          {"reads_cached", s.radio.cached},
          {"reads_merged", s.radio.merged},
          {"cache_ms", s.radio.cacheMs},
          {"radio_reports", s.radio.reports}}},
        {"clients", clients},
        {"transmitter", transmitter},
        {"transmissions", transmissions},
        {"log", log},
    };
    // Bytes that are not UTF-8 (a device name, say) are replaced rather than thrown on.
    return document.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace ovrin::status
