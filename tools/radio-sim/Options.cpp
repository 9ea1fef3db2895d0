#include "Options.h"

#include <charconv>

namespace ovrin::radiosim {

const char* const kUsage =
    "Usage: ovrin-radio-sim [options]\n"
    "Simulates a radio on a pseudo-terminal. The first line on stdout is the\n"
    "device to open as the radio's serial port.\n"
    "\n"
    "  --mode cat        Kenwood-style CAT answers (default): FA; FB; MD; ID; IF; AI; PS;\n"
    "  --mode echo       like a radio on a one-wire bus: every block written back at\n"
    "                    once, then answered as in cat mode (same as --mode cat --echo)\n"
    "  --mode loopback   write every byte back unchanged at once (also --raw-echo)\n"
    "  --echo            cat mode: echo each block first, answer after the delay\n"
    "  --delay MS        answer delay in milliseconds, 0..60000 (default 20)\n"
    "  --baud RATE       send byte by byte, one character time apart, as a line at\n"
    "                    RATE baud would, for the character size the line is set to\n"
    "  --link PATH       make PATH a symbolic link to the device (removed on exit),\n"
    "                    e.g. build/dosdevices/com1 for the server's COM1\n"
    "  --log FILE        log the bytes both ways with timestamps; '-' for stderr\n"
    "  -h, --help        this text\n";

namespace {

bool WholeNumber(const std::string& text, int low, int high, int& value) {
    int n = -1;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (ec != std::errc() || end != text.data() + text.size() || n < low || n > high) return false;
    value = n;
    return true;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool takesValue =
            arg == "--mode" || arg == "--delay" || arg == "--baud" || arg == "--link" || arg == "--log";
        if (takesValue && i + 1 >= args.size()) {
            error = arg + " needs a value";
            return false;
        }
        if (arg == "-h" || arg == "--help") {
            options.help = true;
        } else if (arg == "--echo") {
            options.echo = true;
        } else if (arg == "--raw-echo") {
            options.mode = Mode::Loopback;
        } else if (arg == "--mode") {
            const std::string& value = args[++i];
            if (value == "cat") {
                options.mode = Mode::Cat;
            } else if (value == "echo") {
                options.mode = Mode::Cat;
                options.echo = true;
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
        } else {
            error = "unknown option '" + arg + "'";
            return false;
        }
        if (takesValue && args[i].empty()) {
            error = arg + " needs a value";
            return false;
        }
    }
    return true;
}

}  // namespace ovrin::radiosim
