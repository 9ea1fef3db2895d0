#pragma once
// The simulator's command line.
#include <map>
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
    std::map<std::string, int> slowMs;  // a longer delay for the commands so named ("FA", CI-V "03")
    int knobMs = 0;       // turn VFO A from the front panel this often; 0: never
    int baud = 0;         // pace the output at this line speed; 0: each block at once
    std::string link;     // symbolic link to make to the slave device, if any
    std::string log;      // log file, "-" for stderr, empty for none
    std::string stats;    // file for the count of commands received, by name; empty for none
    bool help = false;
};

// Parses the arguments after the program name. On a mistake returns false and
// sets error to a one-line message.
bool ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error);

extern const char* const kUsage;

}  // namespace ovrin::radiosim
