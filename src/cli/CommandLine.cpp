#include "cli/CommandLine.h"

#include <filesystem>
#include <map>

#include "allow/AllowList.h"
#include "line/LineSettings.h"
#include "station/OptionsText.h"
#include "text/Numbers.h"

namespace ovrin::cli {
namespace {

constexpr int kLastCom = 256;

enum class Takes { Nothing, Value };

struct Known {
    Takes takes;
    void (*apply)(Options&, const std::string& value, std::string& error, System system);
};

void Port(Options& o, const std::string& v, std::string& error, System) {
    const auto n = DigitsWithin(v, 1, 65535);
    if (!n) error = "--port " + v + ": not a TCP port number (1 to 65535)";
    else o.hostPort = std::to_string(*n);
}

void Com(Options& o, const std::string& v, std::string& error, System system) {
    const std::string range = "COM1 to COM" + std::to_string(kLastCom);
    if (!v.empty() && v[0] == '/') {  // a device path: linked to a COM name by main
        if (system == System::Windows) {
            error = "--com " + v + ": give the port's COM name (" + range +
                    "; Device Manager lists them under Ports (COM & LPT))";
            return;
        }
        o.comDevice = v;
        o.comPort.reset();
        return;
    }
    const bool named = v.size() > 3 && (v[0] == 'C' || v[0] == 'c') && (v[1] == 'O' || v[1] == 'o') &&
                       (v[2] == 'M' || v[2] == 'm');
    const auto n = named ? DigitsWithin(v.substr(3), 1, kLastCom) : std::nullopt;
    if (!n) {
        error = "--com " + v + ": not a Com Port (" + range + ")" +
                (system == System::Windows ? std::string() : " or a device path (/dev/...)");
    } else {
        o.comPort = "COM" + std::to_string(*n);
        o.comDevice.reset();
    }
}

// The form the log prints, 9600,n,8,2. The settings file holds six digits of baud.
void LineOption(Options& o, const std::string& v, std::string& error, System) {
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

void ServiceAction(Options& o, Options::Service action, std::string& error) {
    if (o.service != Options::Service::None && o.service != action)
        error = "--install-service, --uninstall-service and --service exclude each other";
    o.service = action;
}

void Text(std::optional<std::string>& field, const char* name, const std::string& v, std::string& error) {
    if (v.empty()) error = std::string(name) + ": empty value";
    else field = v;
}

// The address itself is the socket facility's to check; a form that programs read
// differently is refused here, for every platform alike.
void Bind(Options& o, const std::string& v, std::string& error, System) {
    if (const auto advice = AmbiguousAddress(v)) {
        error = "--bind " + v + ": a leading zero is decimal to some programs and octal to others; " + *advice;
        return;
    }
    Text(o.bindAddress, "--bind", v, error);
}

void Given(Options& o, const std::string& name, const std::string& text) {
    for (auto& [known, value] : o.options)
        if (known == name) {
            value = text;
            return;
        }
    o.options.emplace_back(name, text);
}

// An option kept in the options file, checked as the file and the window check it.
template <const char* Name>
void Kept(Options& o, const std::string& v, std::string& error, System) {
    ServerOptions scratch;
    if (const auto why = SetOption(scratch, Name, v)) error = std::string("--") + Name + " " + v + ": " + *why;
    else Given(o, Name, v);
}

void Allow(Options& o, const std::string& v, std::string& error, System) {
    ServerOptions scratch;
    if (const auto why = SetOption(scratch, "allow", v)) {
        error = "--allow " + v + ": " + *why;
        return;
    }
    const auto before = o.Option("allow");
    const bool fresh = !before || scratch.allow.empty() || *before == "any";
    Given(o, "allow", fresh ? OptionText(scratch, "allow") : *before + ", " + scratch.allow);
}

constexpr char kClients[] = "clients", kAnswerWait[] = "answer-wait", kRfc2217Port[] = "rfc2217-port",
               kStatusPort[] = "status-port", kTxLimit[] = "tx-limit", kCat[] = "cat", kPttLine[] = "ptt-line",
               kTxAllowed[] = "tx-allowed", kCacheMs[] = "cache-ms", kRadioReports[] = "radio-reports";

const std::map<std::string, Known>& Table() {
    static const std::map<std::string, Known> table = {
        {"--help", {Takes::Nothing, [](Options& o, const std::string&, std::string&, System) { o.help = true; }}},
        {"-h", {Takes::Nothing, [](Options& o, const std::string&, std::string&, System) { o.help = true; }}},
        {"--version", {Takes::Nothing, [](Options& o, const std::string&, std::string&, System) { o.version = true; }}},
        {"--headless", {Takes::Nothing, [](Options& o, const std::string&, std::string&, System) { o.headless = true; }}},
        {"--list-ports",
         {Takes::Nothing, [](Options& o, const std::string&, std::string&, System) { o.listPorts = true; }}},
        {"--install-service",
         {Takes::Nothing, [](Options& o, const std::string&, std::string& e, System) {
              ServiceAction(o, Options::Service::Install, e);
          }}},
        {"--uninstall-service",
         {Takes::Nothing, [](Options& o, const std::string&, std::string& e, System) {
              ServiceAction(o, Options::Service::Uninstall, e);
          }}},
        {"--service",
         {Takes::Nothing,
          [](Options& o, const std::string&, std::string& e, System) { ServiceAction(o, Options::Service::Run, e); }}},
        {"--port", {Takes::Value, Port}},
        {"--com", {Takes::Value, Com}},
        {"--config-dir",
         {Takes::Value,
          [](Options& o, const std::string& v, std::string& e, System) { Text(o.configDir, "--config-dir", v, e); }}},
        {"--bind", {Takes::Value, Bind}},
        {"--line", {Takes::Value, LineOption}},
        {"--rts", {Takes::Value, [](Options& o, const std::string& v, std::string& e, System) { OnOff(o.rts, "--rts", v, e); }}},
        {"--dtr", {Takes::Value, [](Options& o, const std::string& v, std::string& e, System) { OnOff(o.dtr, "--dtr", v, e); }}},
        {"--ptt-rts",
         {Takes::Value,
          [](Options& o, const std::string& v, std::string& e, System) { OnOff(o.pttRts, "--ptt-rts", v, e); }}},
        {"--keep-port-open",
         {Takes::Value,
          [](Options& o, const std::string& v, std::string& e, System) {
              OnOff(o.keepPortOpen, "--keep-port-open", v, e);
          }}},
        {"--allow", {Takes::Value, Allow}},
        {"--clients", {Takes::Value, Kept<kClients>}},
        {"--answer-wait", {Takes::Value, Kept<kAnswerWait>}},
        {"--rfc2217-port", {Takes::Value, Kept<kRfc2217Port>}},
        {"--status-port", {Takes::Value, Kept<kStatusPort>}},
        {"--tx-limit", {Takes::Value, Kept<kTxLimit>}},
        {"--cat", {Takes::Value, Kept<kCat>}},
        {"--ptt-line", {Takes::Value, Kept<kPttLine>}},
        {"--tx-allowed", {Takes::Value, Kept<kTxAllowed>}},
        {"--cache-ms", {Takes::Value, Kept<kCacheMs>}},
        {"--radio-reports", {Takes::Value, Kept<kRadioReports>}},
    };
    return table;
}

// Two listeners given one TCP port: the second could never listen.
std::string PortClash(const Options& o) {
    ServerOptions given;
    for (const auto& [name, text] : o.options) SetOption(given, name, text);
    const int host = o.hostPort ? std::stoi(*o.hostPort) : 0;
    const bool rfc2217 = o.Option("rfc2217-port").has_value(), status = o.Option("status-port").has_value();
    if (rfc2217 && given.rfc2217Port && given.rfc2217Port == host)
        return "--rfc2217-port " + std::to_string(host) + ": the same as --port; give another";
    if (status && given.statusPort && given.statusPort == host)
        return "--status-port " + std::to_string(host) + ": the same as --port; give another";
    if (rfc2217 && status && given.statusPort && given.statusPort == given.rfc2217Port)
        return "--status-port " + std::to_string(given.statusPort) + ": the same as --rfc2217-port; give another";
    return {};
}

}  // namespace

std::optional<std::string> Options::Option(const std::string& name) const {
    for (const auto& [known, value] : options)
        if (known == name) return value;
    return std::nullopt;
}

Parsed ParseOptions(const std::vector<std::string>& args, System system) {
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
            else known->second.apply(p.options, {}, p.error, system);
        } else if (equals != std::string::npos) {
            known->second.apply(p.options, arg.substr(equals + 1), p.error, system);
        } else if (i + 1 < args.size()) {
            known->second.apply(p.options, args[++i], p.error, system);
        } else {
            p.error = name + " needs a value";
        }
    }
    // Combinations, once every option is known.
    const Options& o = p.options;
    if (!p.error.empty()) return p;
    // The line PTT control keys rests low: RTS unless --ptt-line says DTR.
    ServerOptions line;
    SetOption(line, "ptt-line", o.Option("ptt-line").value_or("rts"));
    const bool dtrKeys = line.pttLine == PttLine::Dtr;
    const std::optional<bool>& keyLine = dtrKeys ? o.dtr : o.rts;
    if (keyLine.value_or(false) && o.pttRts.value_or(false))
        p.error = std::string(dtrKeys ? "--dtr" : "--rts") + " on and --ptt-rts on exclude each other: with " +
                  (dtrKeys ? "DTR" : "RTS") + " as PTT the line rests low";
    else
        p.error = PortClash(o);
    return p;
}

std::string Usage(const std::string& program, System system) {
    const ServerOptions defaults;
    const bool windows = system == System::Windows;
    const std::string folder =
        windows ? "the program's folder when it\n"
                  "                    is writable, else %APPDATA%\\Ovrin-Server"
                : "the program's folder when it\n"
                  "                    is writable, else $XDG_CONFIG_HOME/ovrin-server, that is\n"
                  "                    ~/.config/ovrin-server";
    const std::string com =
        windows ? "  --com COMn        Com Port, COM1 to COM256, as Device Manager names it under\n"
                  "                    Ports (COM & LPT)\n"
                : "  --com COMn        Com Port, COM1 to COM256 (COM1-COM16 are /dev/ttyS0-3,\n"
                  "                    ttyUSB0-3, ttyACM0-3, ttyS4-7 unless dosdevices/comN links\n"
                  "                    elsewhere)\n"
                  "  --com DEVICE      a device path (/dev/ttyUSB0, /dev/serial/by-id/...): linked\n"
                  "                    as dosdevices/comN in the settings folder (an existing link\n"
                  "                    to it is reused) and saved as that COMn\n";
    return "Usage: " + program +
           " [--headless] [--config-dir DIR] [--port N] [--com COMn" + (windows ? "" : "|DEVICE") +
           "] [OPTION]...\n"
           "Makes one serial (COM) port of this computer reachable over TCP/IP.\n"
           "Settings given here are used for this run and saved, as if typed into the\n"
           "window before Listen; settings not given are the saved ones (Ovrin-Bridge.ini\n"
           "and Ovrin-Server.conf in the settings folder).\n"
           "\n"
           "  --headless        no window and no display: run as a service; each message\n"
           "                    is a line on standard error and takes its safe answer\n"
           "  --config-dir DIR  the settings folder (default: " + folder + ")\n"
           "  --list-ports      show each COM port with its device and whether it can be\n"
           "                    opened, then end\n"
           "  --port N          Host IP Port, 1 to 65535\n" + com +
           "  --line B,P,D,S    the line as the log shows it, e.g. 9600,n,8,2: baud 50 to\n"
           "                    999999; parity n, e, o, m (mark) or s (space); data bits 5\n"
           "                    to 8; stop bits 1, 1.5 or 2 (1.5 is saved as 1)\n"
           "  --rts on|off      RTS raised while the port is open (\"RTS:\")\n"
           "  --dtr on|off      DTR raised while the port is open (\"DTR:\")\n"
           "  --ptt-rts on|off  clients key the transmitter through the PTT line (\"Control\n"
           "                    RTS as PTT\"); that line then rests low, so not with --rts on\n"
           "                    (--dtr on with --ptt-line dtr)\n"
           "  --ptt-line rts|dtr  the line that keys the transmitter (default rts)\n"
           "  --keep-port-open on|off  the serial port stays open while no client is\n"
           "                    connected (\"Com Port active in Listen Mode\")\n"
           "  --bind ADDRESS    listen on this IP address only (default, or ::, every address)\n"
           "  --allow NET[=ROLE][,NET[=ROLE]] only clients from these addresses or\n"
           "                    networks may connect (192.168.1.0/24, 10.0.0.5, 2001:db8::/32;\n"
           "                    may be repeated); others are closed at once; any: everyone\n"
           "                    (the default). ROLE: monitor (reads only), operate (reads\n"
           "                    and sets, never the transmitter) or transmit (everything,\n"
           "                    the default); the first entry that matches decides\n"
           "  --tx-allowed LOW-HIGH[,LOW-HIGH]  the transmitter keys only while the radio's\n"
           "                    frequency is in one of these ranges in Hz (14000000-14350000);\n"
           "                    anywhere: no check (the default)\n"
           "  --clients N       up to N clients share the radio, taking turns, 1 to 5\n"
           "                    (default " + std::to_string(defaults.clients) + ")\n"
           "  --answer-wait MS  a command the radio does not answer ends its turn MS\n"
           "                    milliseconds after it was sent, 20 to 3000 (default " +
           std::to_string(defaults.answerWaitMs) + ")\n"
           "  --rfc2217-port N  also serve the radio as an RFC 2217 (Telnet Com Port\n"
           "                    Control) remote serial port on TCP port N; off: not\n"
           "                    (the default)\n"
           "  --status-port N   a read-only status page on TCP port N: / for a browser,\n"
           "                    /status.json for scripts; off: none (the default)\n"
           "  --cat LANGUAGE    the command language clients speak to the radio: kenwood\n"
           "                    (Kenwood, Elecraft, the newer Yaesu), civ (Icom CI-V),\n"
           "                    ft817 (Yaesu FT-817/857/897) or none; each answer then\n"
           "                    goes to its asker as soon as it is whole, and CAT key\n"
           "                    commands obey the transmitter's rules (default auto:\n"
           "                    recognised per client from its first command)\n"
           "  --tx-limit S      the longest a client may keep the transmitter keyed by a\n"
           "                    CAT command or a remote serial port's PTT line, 0 to 3600\n"
           "                    seconds, 0 for no limit (default " + std::to_string(defaults.txLimitS) + "); the in-band key\n"
           "                    command must be repeated every 10 seconds as before\n"
           "  --cache-ms MS     a read the radio answered is answered again, to any client,\n"
           "                    for MS milliseconds without the radio (meters 100 at most);\n"
           "                    a set or a key drops what it changes; 0 to 5000, 0: every\n"
           "                    read to the radio (default " + std::to_string(defaults.cacheMs) + "); a read already on\n"
           "                    its way to the radio is never written twice\n"
           "  --radio-reports on|off  the radio reports its changes while the port is\n"
           "                    open (Kenwood AI2), keeping the shared reads fresh; each\n"
           "                    client's own AI setting stays its own (default off)\n"
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
