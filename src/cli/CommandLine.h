#pragma once
// The command line and the choice of the settings folder, in plain C++. Nothing is
// applied here: main applies the options, and the system itself never sees them.
#include <optional>
#include <string>
#include <vector>

#include "station/Station.h"

namespace ovrin::cli {

// Exit status for a command line that cannot be obeyed.
inline constexpr int kBadUsage = 2;

// The system a command line is read for: Linux names devices by path and keeps
// its settings under ~/.config, Windows has COM names only and %APPDATA%.
enum class System { Linux, Windows };
#ifdef _WIN32
inline constexpr System kThisSystem = System::Windows;
#else
inline constexpr System kThisSystem = System::Linux;
#endif

// The line settings as the window's boxes hold them ("4800", "Even", "7", "1").
struct Line {
    std::string baud, parity, dataBits, stopBits;
};

struct Options {
    bool help = false;
    bool version = false;
    bool headless = false;
    bool listPorts = false;
    std::optional<std::string> configDir;
    std::optional<std::string> hostPort;     // "1".."65535", as typed into Host IP Port
    std::optional<std::string> comPort;      // "COM1".."COM256"
    std::optional<std::string> comDevice;    // a device path given for --com instead
    std::optional<std::string> bindAddress;  // checked by the socket facility's owner
    std::optional<Line> line;
    std::optional<bool> rts, dtr, pttRts, keepPortOpen;
    // The options kept beyond the record, by their names in the options file, each
    // text checked (--allow's entries together: "any" or a list).
    std::vector<std::pair<std::string, std::string>> options;
    // The option's given text, if it was given.
    std::optional<std::string> Option(const std::string& name) const;
};

struct Parsed {
    Options options;
    std::string error;  // empty when every argument is good; else one line naming the bad one
};

// The arguments after the program's name. Values follow their option as the next
// argument or after "=" (--port 50001, --port=50001); a repeated option keeps the
// last (--allow adds its entries to those before it, "any" starts afresh).
Parsed ParseOptions(const std::vector<std::string>& args, System system = kThisSystem);

std::string Usage(const std::string& program, System system = kThisSystem);

// The folder of the settings file and the dosdevices links: the one given, else the
// program's folder when it can be written (portable use), else the user's
// configuration folder for this program ($XDG_CONFIG_HOME, or ~/.config, then
// "ovrin-server"). Empty environment values count as unset.
std::string SettingsFolder(const Options& options, const std::string& programFolder, bool programFolderWritable,
                           const std::string& xdgConfigHome, const std::string& home);

}  // namespace ovrin::cli
