#pragma once
// Log lines a client can cause at will (its RTS changes, refused keys, refused line
// settings, a reconnect loop's refusals) are limited per client: at most one a
// second is written; those held back are counted, and the last of them is written
// with the count once the second is over, so the log still ends in the state
// things are in. The transmitter's record (a line when a transmission starts and
// one when it ends) has a budget of its own, larger, so that every transmission
// of a client keying at a human pace is written at its time.
#include <cstdint>
#include <map>
#include <string>

#include "platform/Host.h"
#include "platform/Log.h"
#include "platform/Timer.h"

namespace ovrin {

class ClientLog {
public:
    static constexpr int kQuietMs = 1000;
    // Past this many clients or addresses remembered in a second, further ones are
    // limited together.
    static constexpr std::size_t kMaxKeys = 64;
    // The transmission record's lines a client may cause in a second.
    static constexpr int kRecordPerSecond = 10;

    ClientLog(Log& out, const Host& clock, Timer& flush) : out_(out), clock_(clock), timer_(flush) {}
    // `who` names the client (its label, or its address before it is one).
    void Line(LogLevel level, const std::string& who, const std::string& text);
    // A line of the transmission record, on its own budget.
    void Record(LogLevel level, const std::string& who, const std::string& text);
    // The timer's tick: lines held back for a second are written now.
    void Flush();

private:
    struct Held {
        int64_t sinceMs = 0;  // the start of the second whose lines are counted
        int written = 0;      // lines written in that second
        int count = 0;        // held back
        LogLevel level = LogLevel::Info;
        std::string text;
    };
    void Write(LogLevel level, std::string key, const std::string& text, int perSecond);

    Log& out_;
    const Host& clock_;
    Timer& timer_;
    std::map<std::string, Held> held_;
};

}  // namespace ovrin
