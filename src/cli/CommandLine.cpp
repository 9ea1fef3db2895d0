#include "cli/CommandLine.h"

#include <filesystem>
#include <map>

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
    const bool named = v.size() > 3 && (v[0] == 'C' || v[0] == 'c') && (v[1] == 'O' || v[1] == 'o') &&
                       (v[2] == 'M' || v[2] == 'm');
    const auto n = named ? Number(v.substr(3), 1, 16) : std::nullopt;
    if (!n) error = "--com " + v + ": not a Com Port (COM1 to COM16)";
    else o.comPort = "COM" + std::to_string(*n);
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
    return p;
}

std::string Usage(const std::string& program) {
    return "Usage: " + program +
           " [--headless] [--config-dir DIR] [--port N] [--com COMn] [--bind ADDRESS]\n"
           "Makes one serial (COM) port of this computer reachable over TCP/IP.\n"
           "\n"
           "  --headless        no window and no display: run as a service; each message\n"
           "                    is a line on standard error and takes its safe answer\n"
           "  --config-dir DIR  the folder of Ovrin-Bridge.ini and the dosdevices links\n"
           "                    (default: the program's folder when it is writable, else\n"
           "                    $XDG_CONFIG_HOME/ovrin-server, that is ~/.config/ovrin-server)\n"
           "  --port N          Host IP Port for this run, 1 to 65535 (saved on exit)\n"
           "  --com COMn        Com Port for this run, COM1 to COM16 (saved on exit)\n"
           "  --bind ADDRESS    listen on this IP address only (default: every address)\n"
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
