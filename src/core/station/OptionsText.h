#pragma once
// The options a server keeps beyond the record, as text: each one's name, its
// check and its value, the same for the command line, the window and the options
// file; and that file, one "name = value" a line.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "station/Station.h"

namespace ovrin {

// Every option's name, in the file's order.
inline constexpr const char* kOptionNames[] = {"clients", "answer-wait", "rfc2217-port", "status-port",
                                               "tx-limit", "cat",         "allow",        "ptt-line",
                                               "tx-allowed", "cache-ms", "radio-reports"};

// Sets the named option from its text (blanks around it ignored). When the text
// is refused, nothing changes and the answer says what is allowed ("1 to 5").
std::optional<std::string> SetOption(ServerOptions& o, std::string_view name, std::string_view text);
// The option's value as the file and the window show it ("250", "off", "any").
std::string OptionText(const ServerOptions& o, std::string_view name);
bool KnownOption(std::string_view name);

// A file's options over `base`, a line for each line skipped ("line 3: clients
// = 9: 1 to 5") and one for each option named on more than one line. An allow
// line that cannot be read is kept as its text, which lets nobody in; a file too
// long to be one is skipped whole, and lets nobody in either.
struct ReadOptions {
    ServerOptions options;
    std::vector<std::string> skipped;
    std::vector<std::string> doubled;
    // Why the allow-list read lets nobody in, when it does.
    std::optional<std::string> shut;
};
inline constexpr std::size_t kMostOptionsBytes = 64 * 1024;
// The allow text of a file that could not be read: no list, so no client.
inline constexpr const char* kAllowUnread = "(the options file could not be read)";
ReadOptions ReadOptionsFile(std::string_view text, ServerOptions base);
// The file to write: the previous one with every line kept as the user wrote it
// (comments, names this version does not know, bad values, an option named twice)
// except the last line of each option whose value has changed since, which is
// set to it; the options it lacked are added. `newline` ends the lines of a new
// file; an old file keeps its own.
std::string WriteOptionsFile(const ServerOptions& o, std::string_view previous, std::string_view newline = "\n");

// Why the allow-list in effect lets nobody in ("allow = \"10.0.0.0/33\": ..."), or
// nothing when it can be used.
std::optional<std::string> AllowListFault(const ServerOptions& o);

// The bands: whether a frequency is in one, "14000000-14350000, 7000000-7200000",
// and a frequency for people ("14.074000 MHz").
bool InBands(const std::vector<Band>& bands, int64_t hz);
std::string BandsText(const std::vector<Band>& bands);
std::string Megahertz(int64_t hz);

// For the log: who may connect ("up to 3 clients, from 192.168.1.0/24 only"), and
// every option in effect; how reads are shared ("reads shared, answered again for 250 ms, ...").
std::string ClientLimits(const ServerOptions& o);
std::string OptionsInEffect(const ServerOptions& o);
std::string SharedReadsInEffect(const ServerOptions& o);

}  // namespace ovrin
