#include "Options.h"

#include <cctype>
#include <charconv>
#include <optional>

namespace ovrin::radiosim {

const char* const kUsage =
    "Usage: ovrin-radio-sim [options]\n"
    "Simulates a radio on a pseudo-terminal. The first line on stdout is the\n"
    "device to open as the radio's serial port.\n"
    "\n"
    "  --family NAME     the CAT language the radio speaks:\n"
    "                    kenwood  TS-2000 text (default): FA FB MD IF ID PS AI FR\n"
    "                             FT TX RX SA SM0, '?;' for anything else;\n"
    "                             AI1/AI2 report changes unasked\n"
    "                    civ      IC-7300 CI-V frames, address 94: 03 04 05 06 07\n"
    "                             0F 19 1A03 1A06 1C00 25 26; FB/FA for sets; the\n"
    "                             bus echo on\n"
    "                    ft817    FT-817 5-byte commands: 03 E7 F7 BB BD answered,\n"
    "                             any other acknowledged with one byte, 00\n"
    "  --mode cat        answer in the family's language (default)\n"
    "  --mode echo       like a radio on a one-wire bus: every block written back at\n"
    "                    once, then answered as in cat mode (same as --mode cat --echo)\n"
    "  --mode loopback   write every byte back unchanged at once (also --raw-echo)\n"
    "  --echo            cat mode: echo each block first, answer after the delay\n"
    "  --no-echo         no echo, also for civ (as on the IC-7300's USB port)\n"
    "  --civ-address HEX\n"
    "                    the CI-V radio's address, 01..DF (default 94)\n"
    "  --transceive      civ: report a change of frequency or mode in a frame to 00\n"
    "  --delay MS        answer delay in milliseconds, 0..60000 (default 20)\n"
    "  --slow NAME:MS    answer the command NAME after MS instead (repeatable): the\n"
    "                    letters for kenwood (FA:450), the command byte in hex for\n"
    "                    civ and ft817 (03:450); later answers wait behind it\n"
    "  --knob MS         turn VFO A 100 Hz up and back every MS, as from the front\n"
    "                    panel; reported as a change when AI or transceive is on\n"
    "  --step HZ         kenwood, civ: a frequency set is rounded down to HZ, 1..1000\n"
    "                    (default 1), as a radio tunes in steps\n"
    "  --baud RATE       send byte by byte, one character time apart, as a line at\n"
    "                    RATE baud would, for the character size the line is set to\n"
    "  --link PATH       make PATH a symbolic link to the device (removed on exit),\n"
    "                    e.g. build/dosdevices/com1 for the server's COM1\n"
    "  --log FILE        log the bytes both ways with timestamps, and 'PTT on' /\n"
    "                    'PTT off' when a command keys or releases; '-' for stderr\n"
    "  --stats FILE      write the commands received so far, a line 'NAME COUNT'\n"
    "                    each (NAME as for --slow, '?' for one not understood), to\n"
    "                    FILE on SIGUSR1 and at exit (replaced whole, never half)\n"
    "  -h, --help        this text\n";

namespace {

bool WholeNumber(const std::string& text, int low, int high, int& value) {
    int n = -1;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (ec != std::errc() || end != text.data() + text.size() || n < low || n > high) return false;
    value = n;
    return true;
}

// A CI-V address in hex, "94" or "0x94"; 00 is everyone and E0 and up the controllers'.
bool CivAddress(std::string text, std::uint8_t& address) {
    if (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0) text.erase(0, 2);
    unsigned n = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n, 16);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || n < 0x01 || n > 0xDF) return false;
    address = static_cast<std::uint8_t>(n);
    return true;
}

// NAME:MS, NAME the command's letters or its byte in hex, kept in upper case.
bool SlowCommand(const std::string& text, std::map<std::string, int>& slow) {
    const auto colon = text.find(':');
    if (colon == 0 || colon == std::string::npos || colon > 4) return false;
    std::string name = text.substr(0, colon);
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) return false;
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    int ms = 0;
    if (!WholeNumber(text.substr(colon + 1), 0, 60000, ms)) return false;
    slow[name] = ms;
    return true;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error) {
    std::optional<bool> echo;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool takesValue = arg == "--mode" || arg == "--delay" || arg == "--baud" || arg == "--link" ||
                                arg == "--log" || arg == "--stats" || arg == "--family" || arg == "--civ-address" || arg == "--slow" ||
                                arg == "--knob" || arg == "--step";
        if (takesValue && i + 1 >= args.size()) {
            error = arg + " needs a value";
            return false;
        }
        if (arg == "-h" || arg == "--help") {
            options.help = true;
        } else if (arg == "--echo") {
            echo = true;
        } else if (arg == "--no-echo") {
            echo = false;
        } else if (arg == "--transceive") {
            options.radio.transceive = true;
        } else if (arg == "--family") {
            const std::string& value = args[++i];
            if (value == "kenwood") {
                options.radio.family = Family::Kenwood;
            } else if (value == "civ") {
                options.radio.family = Family::Civ;
            } else if (value == "ft817") {
                options.radio.family = Family::Ft817;
            } else {
                error = "unknown family '" + value + "' (kenwood, civ or ft817)";
                return false;
            }
        } else if (arg == "--civ-address") {
            if (!CivAddress(args[++i], options.radio.civAddress)) {
                error = "--civ-address wants a hex address from 01 to DF, not '" + args[i] + "'";
                return false;
            }
        } else if (arg == "--slow") {
            if (!SlowCommand(args[++i], options.slowMs)) {
                error = "--slow wants NAME:MS, e.g. FA:450 or 03:450, MS up to 60000, not '" + args[i] + "'";
                return false;
            }
        } else if (arg == "--knob") {
            if (!WholeNumber(args[++i], 10, 3600000, options.knobMs)) {
                error = "--knob wants milliseconds from 10 to 3600000, not '" + args[i] + "'";
                return false;
            }
        } else if (arg == "--step") {
            int hz = 1;
            if (!WholeNumber(args[++i], 1, 1000, hz)) {
                error = "--step wants hertz from 1 to 1000, not '" + args[i] + "'";
                return false;
            }
            options.radio.stepHz = static_cast<std::uint64_t>(hz);
        } else if (arg == "--raw-echo") {
            options.mode = Mode::Loopback;
        } else if (arg == "--mode") {
            const std::string& value = args[++i];
            if (value == "cat") {
                options.mode = Mode::Cat;
            } else if (value == "echo") {
                options.mode = Mode::Cat;
                echo = true;
            } else if (value == "loopback") {
                options.mode = Mode::Loopback;
            } else {
                error = "unknown mode '" + value + "' (cat, echo or loopback)";
                return false;
            }
        } else if (arg == "--delay") {
            if (!WholeNumber(args[++i], 0, 60000, options.delayMs)) {
                error = "--delay wants milliseconds from 0 to 60000, not '" + args[i] + "'";
                return false;
            }
        } else if (arg == "--baud") {
            if (!WholeNumber(args[++i], 50, 4000000, options.baud)) {
                error = "--baud wants a line speed from 50 to 4000000, not '" + args[i] + "'";
                return false;
            }
        } else if (arg == "--link") {
            options.link = args[++i];
        } else if (arg == "--log") {
            options.log = args[++i];
        } else if (arg == "--stats") {
            options.stats = args[++i];
        } else {
            error = "unknown option '" + arg + "'";
            return false;
        }
        if (takesValue && args[i].empty()) {
            error = arg + " needs a value";
            return false;
        }
    }
    // CI-V radios share one wire with the controller, so it hears itself first.
    options.echo = echo.value_or(options.radio.family == Family::Civ);
    return true;
}

}  // namespace ovrin::radiosim
