#include "cli/CommandLine.h"

#include <filesystem>
#include <map>

#include "allow/AllowList.h"
#include "line/LineSettings.h"

namespace ovrin::cli {
namespace {

enum class Takes { Nothing, Value };

struct Known {
    Takes takes;
    void (*apply)(Options&, const std::string& value, std::string& error);
};

// A number of digits only, within [low, high]; nothing else passes.
std::optional<int> Number(const std::string& text, int low, int high) {
    if (text.empty() || text.size() > 6) return std::nullopt;
    int n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + (c - '0');
    }
    if (n < low || n > high) return std::nullopt;
    return n;
}

void Port(Options& o, const std::string& v, std::string& error) {
    const auto n = Number(v, 1, 65535);
    if (!n) error = "--port " + v + ": not a TCP port number (1 to 65535)";
    else o.hostPort = std::to_string(*n);
}

void Com(Options& o, const std::string& v, std::string& error) {
    if (!v.empty() && v[0] == '/') {  // a device path: linked to a COM name by main
        o.comDevice = v;
        o.comPort.reset();
        return;
    }
    const bool named = v.size() > 3 && (v[0] == 'C' || v[0] == 'c') && (v[1] == 'O' || v[1] == 'o') &&
                       (v[2] == 'M' || v[2] == 'm');
    const auto n = named ? Number(v.substr(3), 1, 16) : std::nullopt;
    if (!n) {
        error = "--com " + v + ": not a Com Port (COM1 to COM16) or a device path (/dev/...)";
    } else {
        o.comPort = "COM" + std::to_string(*n);
        o.comDevice.reset();
    }
}

// The form the log prints, 9600,n,8,2. The settings file holds six digits of baud.
void LineOption(Options& o, const std::string& v, std::string& error) {
    const auto s = ParseLineSettings(v);
    if (!s || s->baud > 999999 || s->dataBits < 5) {
        error = "--line " + v +
                ": BAUD,PARITY,BITS,STOP as in 9600,n,8,2 (baud 50 to 999999; parity n, e, o, m or s; "
                "bits 5 to 8; stop 1, 1.5 or 2)";
        return;
    }
    static const std::map<char, const char*> kParity = {
        {'n', "None"}, {'e', "Even"}, {'o', "Odd"}, {'m', "Mark"}, {'s', "Space"}};
    const int stop = s->stopBitsX10;
    o.line = Line{std::to_string(s->baud), kParity.at(s->parity), std::to_string(s->dataBits),
                  stop == 15 ? "1.5" : std::to_string(stop / 10)};
}

void OnOff(std::optional<bool>& field, const char* name, const std::string& v, std::string& error) {
    if (v == "on") field = true;
    else if (v == "off") field = false;
    else error = std::string(name) + " " + v + ": on or off";
}

void Allow(Options& o, const std::string& v, std::string& error) {
    if (const auto why = AllowList().Add(v)) error = "--allow " + v + ": " + *why;
    else o.allow.push_back(v);
}

void Ranged(int& field, const char* name, int low, int high, const char* unit, const std::string& v,
            std::string& error) {
    const auto n = Number(v, low, high);
    if (!n) error = std::string(name) + " " + v + ": " + std::to_string(low) + " to " + std::to_string(high) + unit;
    else field = *n;
}

void Text(std::optional<std::string>& field, const char* name, const std::string& v, std::string& error) {
    if (v.empty()) error = std::string(name) + ": empty value";
    else field = v;
}

const std::map<std::string, Known>& Table() {
    static const std::map<std::string, Known> table = {
        {"--help", {Takes::Nothing, [](Options& o, const std::string&, std::string&) { o.help = true; }}},
        {"-h", {Takes::Nothing, [](Options& o, const std::string&, std::string&) { o.help = true; }}},
        {"--version", {Takes::Nothing, [](Options& o, const std::string&, std::string&) { o.version = true; }}},
        {"--headless", {Takes::Nothing, [](Options& o, const std::string&, std::string&) { o.headless = true; }}},
        {"--port", {Takes::Value, Port}},
        {"--com", {Takes::Value, Com}},
        {"--config-dir",
         {Takes::Value, [](Options& o, const std::string& v, std::string& e) { Text(o.configDir, "--config-dir", v, e); }}},
        {"--bind",
         {Takes::Value, [](Options& o, const std::string& v, std::string& e) { Text(o.bindAddress, "--bind", v, e); }}},
        {"--line", {Takes::Value, LineOption}},
        {"--rts", {Takes::Value, [](Options& o, const std::string& v, std::string& e) { OnOff(o.rts, "--rts", v, e); }}},
        {"--dtr", {Takes::Value, [](Options& o, const std::string& v, std::string& e) { OnOff(o.dtr, "--dtr", v, e); }}},
        {"--ptt-rts",
         {Takes::Value, [](Options& o, const std::string& v, std::string& e) { OnOff(o.pttRts, "--ptt-rts", v, e); }}},
        {"--keep-port-open",
         {Takes::Value,
          [](Options& o, const std::string& v, std::string& e) { OnOff(o.keepPortOpen, "--keep-port-open", v, e); }}},
        {"--allow", {Takes::Value, Allow}},
        {"--clients",
         {Takes::Value,
          [](Options& o, const std::string& v, std::string& e) { Ranged(o.server.clients, "--clients", 1, 5, "", v, e); }}},
        {"--answer-wait",
         {Takes::Value,
          [](Options& o, const std::string& v, std::string& e) {
              Ranged(o.server.answerWaitMs, "--answer-wait", 20, 3000, " milliseconds", v, e);
          }}},
        {"--rfc2217-port",
         {Takes::Value,
          [](Options& o, const std::string& v, std::string& e) {
              int port = 0;
              Ranged(port, "--rfc2217-port", 1, 65535, " (a TCP port)", v, e);
              if (e.empty()) o.server.rfc2217Port = port;
          }}},
        {"--status-port",
         {Takes::Value,
          [](Options& o, const std::string& v, std::string& e) {
              Ranged(o.server.statusPort, "--status-port", 1, 65535, " (a TCP port)", v, e);
          }}},
        {"--cat",
         {Takes::Value,
          [](Options& o, const std::string& v, std::string& e) {
              if (const auto language = cat::ParseLanguage(v)) o.server.cat = *language;
              else e = "--cat " + v + ": auto, kenwood, civ, ft817 or none";
          }}},
        {"--tx-limit",
         {Takes::Value,
          [](Options& o, const std::string& v, std::string& e) {
              Ranged(o.server.txLimitS, "--tx-limit", 0, 3600, " seconds (0: no limit)", v, e);
          }}},
    };
    return table;
}

}  // namespace

Parsed ParseOptions(const std::vector<std::string>& args) {
    Parsed p;
    for (std::size_t i = 0; i < args.size() && p.error.empty(); ++i) {
        const std::string& arg = args[i];
        const auto equals = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
        const std::string name = arg.substr(0, equals);
        const auto known = Table().find(name);
        if (known == Table().end()) {
            p.error = (arg.rfind('-', 0) == 0 ? "unknown option " : "unexpected argument ") + arg;
        } else if (known->second.takes == Takes::Nothing) {
            if (equals != std::string::npos) p.error = name + " takes no value";
            else known->second.apply(p.options, {}, p.error);
        } else if (equals != std::string::npos) {
            known->second.apply(p.options, arg.substr(equals + 1), p.error);
        } else if (i + 1 < args.size()) {
            known->second.apply(p.options, args[++i], p.error);
        } else {
            p.error = name + " needs a value";
        }
    }
    // Combinations, once every option is known.
    const Options& o = p.options;
    if (!p.error.empty()) return p;
    if (o.rts.value_or(false) && o.pttRts.value_or(false))
        p.error = "--rts on and --ptt-rts on exclude each other: with RTS as PTT the line rests low";
    else if (o.server.rfc2217Port && o.hostPort && std::to_string(o.server.rfc2217Port) == *o.hostPort)
        p.error = "--rfc2217-port " + std::to_string(o.server.rfc2217Port) + ": the same as --port; give another";
    return p;
}

std::string Usage(const std::string& program) {
    const ServerOptions defaults;
    return "Usage: " + program +
           " [--headless] [--config-dir DIR] [--port N] [--com COMn|DEVICE] [OPTION]...\n"
           "Makes one serial (COM) port of this computer reachable over TCP/IP.\n"
           "Settings given here are used for this run and saved, as if typed into the\n"
           "window before Listen; settings not given are the saved ones.\n"
           "\n"
           "  --headless        no window and no display: run as a service; each message\n"
           "                    is a line on standard error and takes its safe answer\n"
           "  --config-dir DIR  the folder of Ovrin-Bridge.ini and the dosdevices links\n"
           "                    (default: the program's folder when it is writable, else\n"
           "                    $XDG_CONFIG_HOME/ovrin-server, that is ~/.config/ovrin-server)\n"
           "  --port N          Host IP Port, 1 to 65535\n"
           "  --com COMn        Com Port, COM1 to COM16\n"
           "  --com DEVICE      a device path (/dev/ttyUSB0, /dev/serial/by-id/...): linked\n"
           "                    as dosdevices/comN in the settings folder (an existing link\n"
           "                    to it is reused) and saved as that COMn\n"
           "  --line B,P,D,S    the line as the log shows it, e.g. 9600,n,8,2: baud 50 to\n"
           "                    999999; parity n, e, o, m (mark) or s (space); data bits 5\n"
           "                    to 8; stop bits 1, 1.5 or 2 (1.5 is saved as 1)\n"
           "  --rts on|off      RTS raised while the port is open (\"RTS:\")\n"
           "  --dtr on|off      DTR raised while the port is open (\"DTR:\")\n"
           "  --ptt-rts on|off  clients key the transmitter through RTS (\"Control RTS as\n"
           "                    PTT\"); RTS then rests low, so not with --rts on\n"
           "  --keep-port-open on|off  the serial port stays open while no client is\n"
           "                    connected (\"Com Port active in Listen Mode\")\n"
           "  --bind ADDRESS    listen on this IP address only (default: every address)\n"
           "  --allow NET[,NET] only clients from these addresses or networks may connect\n"
           "                    (192.168.1.0/24, 10.0.0.5, 2001:db8::/32; may be repeated);\n"
           "                    others are closed at once (default: everyone)\n"
           "  --clients N       up to N clients share the radio, taking turns, 1 to 5\n"
           "                    (default " + std::to_string(defaults.clients) + ")\n"
           "  --answer-wait MS  a command the radio does not answer ends its turn MS\n"
           "                    milliseconds after it was sent, 20 to 3000 (default " +
           std::to_string(defaults.answerWaitMs) + ")\n"
           "  --rfc2217-port N  also serve the radio as an RFC 2217 (Telnet Com Port\n"
           "                    Control) remote serial port on TCP port N (default: off)\n"
           "  --status-port N   a read-only status page on TCP port N: / for a browser,\n"
           "                    /status.json for scripts (default: off)\n"
           "  --cat LANGUAGE    the command language clients speak to the radio: kenwood\n"
           "                    (Kenwood, Elecraft, the newer Yaesu), civ (Icom CI-V),\n"
           "                    ft817 (Yaesu FT-817/857/897) or none; each answer then\n"
           "                    goes to its asker as soon as it is whole, and CAT key\n"
           "                    commands obey the transmitter's rules (default auto:\n"
           "                    recognised per client from its first command)\n"
           "  --tx-limit S      the longest a client may keep the transmitter keyed by a\n"
           "                    CAT command or a remote serial port's RTS, 0 to 3600\n"
           "                    seconds, 0 for no limit (default " + std::to_string(defaults.txLimitS) + "); the in-band key\n"
           "                    command must be repeated every 10 seconds as before\n"
           "  --help            show this text\n"
           "  --version         show the version\n";
}

std::string SettingsFolder(const Options& options, const std::string& programFolder, bool programFolderWritable,
                           const std::string& xdgConfigHome, const std::string& home) {
    namespace fs = std::filesystem;
    if (options.configDir) {
        fs::path given = fs::absolute(*options.configDir).lexically_normal();
        if (!given.has_filename() && given.has_relative_path()) given = given.parent_path();  // "dir/" names dir
        return given.string();
    }
    if (programFolderWritable) return programFolder;
    // The XDG rule: a relative XDG_CONFIG_HOME is ignored.
    if (!xdgConfigHome.empty() && fs::path(xdgConfigHome).is_absolute())
        return (fs::path(xdgConfigHome) / "ovrin-server").string();
    if (!home.empty()) return (fs::path(home) / ".config" / "ovrin-server").string();
    return programFolder;
}

}  // namespace ovrin::cli
