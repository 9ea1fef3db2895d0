#pragma once
// The simulator's command line.
#include <string>
#include <vector>

#include "Cat.h"

namespace ovrin::radiosim {

enum class Mode { Cat, Loopback };

struct Options {
    Mode mode = Mode::Cat;
    RadioSetup radio;     // the family and its settings
    bool echo = false;    // echo every block at once, before any answer; on by default for CI-V, a one-wire bus
    int delayMs = 20;     // time between receiving a command and answering it
    int baud = 0;         // pace the output at this line speed; 0: each block at once
    std::string link;     // symbolic link to make to the slave device, if any
    std::string log;      // log file, "-" for stderr, empty for none
    bool help = false;
};

// Parses the arguments after the program name. On a mistake returns false and
// sets error to a one-line message.
bool ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error);

extern const char* const kUsage;

}  // namespace ovrin::radiosim
