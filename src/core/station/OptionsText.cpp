#include "station/OptionsText.h"

#include <map>

#include "allow/AllowList.h"
#include "text/Numbers.h"

namespace ovrin {
namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view Stripped(std::string_view text) {
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

std::optional<std::string> Ranged(int& field, std::string_view text, int low, int high, const char* unit) {
    const auto n = DigitsWithin(text, low, high);
    if (!n) return std::to_string(low) + " to " + std::to_string(high) + unit;
    field = *n;
    return std::nullopt;
}

std::optional<std::string> Port(int& field, std::string_view text) {
    if (text.empty() || Lower(text) == "off") {
        field = 0;
        return std::nullopt;
    }
    return Ranged(field, text, 0, 65535, " (a TCP port; 0 or off: none)");
}

// Entries separated by commas or blanks, each an address or a network.
std::optional<std::string> Allow(std::string& field, std::string_view text) {
    if (text.empty() || Lower(text) == "any") {
        field.clear();
        return std::nullopt;
    }
    std::string entries, entry;
    const auto add = [&]() -> std::optional<std::string> {
        if (entry.empty()) return std::nullopt;
        if (auto why = AllowList().Add(entry)) return why;
        entries += (entries.empty() ? "" : ", ") + entry;
        entry.clear();
        return std::nullopt;
    };
    for (char c : text) {
        if (c != ',' && c != ' ' && c != '\t') {
            entry += c;
        } else if (auto why = add()) {
            return why;
        }
    }
    if (auto why = add()) return why;
    field = entries;
    return std::nullopt;
}

// Hz, digits only, up to 100 GHz.
std::optional<int64_t> Hertz(std::string_view text) {
    if (text.empty() || text.size() > 11) return std::nullopt;
    int64_t hz = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        hz = hz * 10 + (c - '0');
    }
    return hz;
}

// LOW-HIGH ranges in Hz, separated by commas or blanks; empty or "anywhere": none.
std::optional<std::string> Bands(std::vector<Band>& field, std::string_view text) {
    std::vector<Band> bands;
    const std::string all(text);
    std::string entry;
    const auto add = [&]() -> std::optional<std::string> {
        if (entry.empty()) return std::nullopt;
        const auto dash = entry.find('-');
        const auto low = Hertz(std::string_view(entry).substr(0, dash));
        const auto high = dash == std::string::npos ? std::nullopt : Hertz(std::string_view(entry).substr(dash + 1));
        if (!low || !high || *low > *high)
            return "\"" + entry + "\" is not a range LOW-HIGH in Hz (14000000-14350000), low first";
        bands.push_back({*low, *high});
        entry.clear();
        return std::nullopt;
    };
    if (Lower(text) != "anywhere") {
        for (char c : all) {
            if (c != ',' && c != ' ' && c != '\t') entry += c;
            else if (auto why = add()) return why;
        }
        if (auto why = add()) return why;
    }
    field = std::move(bands);
    return std::nullopt;
}

// A line's text for a log line: cut where it would fill the line.
std::string Quoted(std::string_view text) {
    constexpr std::size_t kShown = 60;
    return "\"" + std::string(text.substr(0, kShown)) + (text.size() > kShown ? "...\"" : "\"");
}

// The option a line sets, if it is one ("Clients = 3" sets clients).
std::optional<std::string> NameOf(std::string_view line) {
    const std::string_view bare = Stripped(line);
    const auto equals = bare.find('=');
    if (bare.empty() || bare[0] == '#' || bare[0] == ';' || equals == std::string_view::npos) return std::nullopt;
    std::string name = Lower(Stripped(bare.substr(0, equals)));
    if (!KnownOption(name)) return std::nullopt;
    return name;
}

// The lines of a text, without their ends; a last line without one counts.
std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    if (!lines.empty() && lines[0].substr(0, 3) == "\xEF\xBB\xBF") lines[0].remove_prefix(3);  // a text editor's mark
    return lines;
}

constexpr const char* kHeader[] = {
    "# Ovrin-Server's settings beyond Ovrin-Bridge.ini, one \"name = value\" a line,",
    "# read at start; an option given on the command line replaces its line.",
    "#   clients 1 to 5; answer-wait 20 to 3000 (ms); rfc2217-port, status-port a TCP",
    "#   port or off; tx-limit 0 to 3600 (s, 0: none); cat auto, kenwood, civ, ft817",
    "#   or none; allow addresses and networks (192.168.1.0/24, ::1) or any;",
    "#   ptt-line rts or dtr; tx-allowed LOW-HIGH ranges in Hz (14000000-14350000)",
    "#   or anywhere; cache-ms 0 to 5000 (ms, 0: every read to the radio);",
    "#   radio-reports on or off. An allow entry may end in =monitor, =operate or",
    "#   =transmit.",
};

}  // namespace

bool KnownOption(std::string_view name) {
    for (const char* known : kOptionNames)
        if (name == known) return true;
    return false;
}

std::optional<std::string> SetOption(ServerOptions& o, std::string_view name, std::string_view given) {
    const std::string_view text = Stripped(given);
    ServerOptions changed = o;
    std::optional<std::string> why;
    if (name == "clients") {
        why = Ranged(changed.clients, text, 1, kMostClients, "");
    } else if (name == "answer-wait") {
        why = Ranged(changed.answerWaitMs, text, 20, 3000, " milliseconds");
    } else if (name == "rfc2217-port") {
        why = Port(changed.rfc2217Port, text);
    } else if (name == "status-port") {
        why = Port(changed.statusPort, text);
    } else if (name == "tx-limit") {
        why = Ranged(changed.txLimitS, text, 0, 3600, " seconds (0: no limit)");
    } else if (name == "cat") {
        if (const auto language = cat::ParseLanguage(Lower(text))) changed.cat = *language;
        else why = "auto, kenwood, civ, ft817 or none";
    } else if (name == "allow") {
        why = Allow(changed.allow, text);
    } else if (name == "tx-allowed") {
        why = Bands(changed.txAllowed, text);
    } else if (name == "ptt-line") {
        const std::string line = Lower(text);
        if (line == "rts" || line == "dtr") changed.pttLine = line == "dtr" ? PttLine::Dtr : PttLine::Rts;
        else why = "rts or dtr";
    } else if (name == "cache-ms") {
        why = Ranged(changed.cacheMs, text, 0, 5000, " milliseconds (0: every read to the radio)");
    } else if (name == "radio-reports") {
        const std::string word = Lower(text);
        if (word == "on" || word == "off") changed.radioReports = word == "on";
        else why = "on or off";
    } else {
        why = "no such option";
    }
    if (!why) o = changed;
    return why;
}

std::string OptionText(const ServerOptions& o, std::string_view name) {
    const auto port = [](int n) { return n == 0 ? std::string("off") : std::to_string(n); };
    if (name == "clients") return std::to_string(o.clients);
    if (name == "answer-wait") return std::to_string(o.answerWaitMs);
    if (name == "rfc2217-port") return port(o.rfc2217Port);
    if (name == "status-port") return port(o.statusPort);
    if (name == "tx-limit") return std::to_string(o.txLimitS);
    if (name == "cat") return std::string(cat::Name(o.cat));
    if (name == "allow") return o.allow.empty() ? "any" : o.allow;
    if (name == "ptt-line") return o.pttLine == PttLine::Dtr ? "dtr" : "rts";
    if (name == "tx-allowed") return o.txAllowed.empty() ? "anywhere" : BandsText(o.txAllowed);
    if (name == "cache-ms") return std::to_string(o.cacheMs);
    if (name == "radio-reports") return o.radioReports ? "on" : "off";
    return {};
}

bool InBands(const std::vector<Band>& bands, int64_t hz) {
    for (const Band& b : bands)
        if (hz >= b.low && hz <= b.high) return true;
    return false;
}

std::string BandsText(const std::vector<Band>& bands) {
    std::string text;
    for (const Band& b : bands) text += (text.empty() ? "" : ", ") + std::to_string(b.low) + "-" + std::to_string(b.high);
    return text;
}

std::string Megahertz(int64_t hz) {
    std::string fraction = std::to_string(hz % 1000000);
    return std::to_string(hz / 1000000) + "." + std::string(6 - fraction.size(), '0') + fraction + " MHz";
}

namespace {

// Each option's lines in a file: their numbers, and the last one taken.
struct NamedLines {
    std::vector<int> numbers;
    int taken = 0;
};

}  // namespace

ReadOptions ReadOptionsFile(std::string_view text, ServerOptions base) {
    ReadOptions read{std::move(base), {}, {}, {}};
    if (text.size() > kMostOptionsBytes) {
        read.skipped.push_back(std::to_string(text.size()) + " bytes, more than an options file holds (" +
                               std::to_string(kMostOptionsBytes) + "): none of it read");
        read.options.allow = kAllowUnread;
        read.shut = read.skipped.back();
        return read;
    }
    std::map<std::string, NamedLines> named;
    int number = 0;
    for (const std::string_view line : Lines(text)) {
        ++number;
        const std::string_view bare = Stripped(line);
        if (bare.empty() || bare[0] == '#' || bare[0] == ';') continue;
        const std::string at = "line " + std::to_string(number) + ": ";
        const auto equals = bare.find('=');
        if (equals == std::string_view::npos) {
            read.skipped.push_back(at + Quoted(bare) + " is no \"name = value\"");
            continue;
        }
        const std::string name = Lower(Stripped(bare.substr(0, equals)));
        const std::string_view value = Stripped(bare.substr(equals + 1));
        if (!KnownOption(name)) {
            read.skipped.push_back(at + "no option is called " + Quoted(name));
            continue;
        }
        NamedLines& lines = named[name];
        lines.numbers.push_back(number);
        if (const auto why = SetOption(read.options, name, value)) {
            std::string told = at + name + " = " + Quoted(value) + ": " + *why;
            if (name == "allow") {
                // A list that cannot be read lets nobody in: read as "any", a typo
                // would open the transmitter to everyone.
                read.options.allow = std::string(value);
                read.shut = std::move(told);
            } else {
                read.skipped.push_back(std::move(told));
            }
        } else {
            lines.taken = number;
        }
    }
    for (const auto& [name, lines] : named) {
        if (lines.numbers.size() < 2) continue;
        std::string numbers;
        for (std::size_t i = 0; i < lines.numbers.size(); ++i)
            numbers += (i == 0 ? "" : i + 1 == lines.numbers.size() ? " and " : ", ") + std::to_string(lines.numbers[i]);
        read.doubled.push_back(name + " is given on lines " + numbers + ": " +
                               (lines.taken ? "line " + std::to_string(lines.taken) + " counts"
                                            : std::string("none of them can be used")));
    }
    return read;
}

std::string WriteOptionsFile(const ServerOptions& o, std::string_view previous, std::string_view newline) {
    if (previous.size() > kMostOptionsBytes) previous = {};
    if (!previous.empty()) newline = previous.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
    // What the file says now: an option whose value is still that keeps its lines as
    // the user wrote them (a bad one included, told again at the next start); one
    // that changed is written over the last line naming it, which is the one read.
    const ServerOptions inFile = ReadOptionsFile(previous, ServerOptions{}).options;
    std::map<std::string, int> last;
    int number = 0;
    const std::vector<std::string_view> lines = Lines(previous);
    for (const std::string_view line : lines) {
        ++number;
        if (const auto name = NameOf(line)) last[*name] = number;
    }
    std::string out;
    if (previous.substr(0, 3) == "\xEF\xBB\xBF") out = previous.substr(0, 3);  // as the editor left it
    if (previous.empty())
        for (const char* line : kHeader) out += std::string(line) + std::string(newline);
    const auto changed = [&](const std::string& name) { return OptionText(o, name) != OptionText(inFile, name); };
    number = 0;
    for (const std::string_view line : lines) {
        ++number;
        const auto name = NameOf(line);
        if (name && last[*name] == number && changed(*name)) {
            out += *name + " = " + OptionText(o, *name) + std::string(newline);
        } else {
            out += std::string(line) + std::string(newline);
        }
    }
    for (const char* name : kOptionNames)
        if (!last.count(name)) out += std::string(name) + " = " + OptionText(o, name) + std::string(newline);
    return out;
}

std::optional<std::string> AllowListFault(const ServerOptions& o) {
    if (o.allow == kAllowUnread) return "the options file could not be read";
    if (AllowListOfOption(o.allow)) return std::nullopt;
    ServerOptions scratch;
    const auto why = SetOption(scratch, "allow", o.allow);
    return "allow = " + Quoted(o.allow) + ": " + why.value_or("cannot be read");
}

std::string ClientLimits(const ServerOptions& o) {
    const std::string from = o.allow.empty()          ? ", from any address"
                             : AllowListOfOption(o.allow) ? ", from " + o.allow + " only"
                                                          : ", from no address: the allow-list cannot be read";
    return "up to " + std::to_string(o.clients) + (o.clients == 1 ? " client" : " clients") + from;
}

std::string SharedReadsInEffect(const ServerOptions& o) {
    return std::string("reads shared, ") +
           (o.cacheMs == 0 ? "every read to the radio" : "answered again for " + std::to_string(o.cacheMs) + " ms") +
           (o.radioReports ? ", the radio's reports on" : ", the radio's reports as it has them");
}

std::string OptionsInEffect(const ServerOptions& o) {
    const auto port = [](int n, const char* what) {
        return n == 0 ? std::string("no ") + what : std::string(what) + " on TCP port " + std::to_string(n);
    };
    const std::string language =
        o.cat == cat::Language::Unknown ? "recognised per client" : std::string(cat::Title(o.cat));
    return ClientLimits(o) + "; answer wait " + std::to_string(o.answerWaitMs) + " ms; " +
           port(o.rfc2217Port, "remote serial port (RFC 2217)") + "; " + port(o.statusPort, "status page") + "; " +
           (o.txLimitS == 0 ? std::string("no transmit limit") : "transmit limit " + std::to_string(o.txLimitS) + " s") +
           "; command language " + language + "; PTT on " + LineName(o.pttLine) +
           (o.txAllowed.empty() ? std::string() : "; transmit only in " + BandsText(o.txAllowed) + " Hz") + "; " +
           SharedReadsInEffect(o);
}

}  // namespace ovrin
