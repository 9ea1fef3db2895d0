#pragma once
#include <string>

#include "platform/Log.h"

namespace ovrin {

// Writes each line to standard error. On a terminal a line starts with the local
// time; under systemd (journal = true) it starts with the syslog priority "<6>"
// instead, since the journal stamps and ranks lines itself. Bytes that are not
// printable ASCII are written as \xNN, so a line never breaks or garbles a terminal.
class StderrLog final : public Log {
public:
    explicit StderrLog(bool journal = false) : journal_(journal) {}
    void Line(LogLevel level, const std::string& text) override;
    static std::string Printable(const std::string& text);
    // The line as a terminal shows it: the local time, "error: " or "warning: ",
    // the printable text.
    static std::string Stamped(LogLevel level, const std::string& text);

private:
    bool journal_;
};

}  // namespace ovrin
