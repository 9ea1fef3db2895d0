#pragma once
// Log lines a client can cause at will (its RTS changes, refused keys, refused line
// settings, a reconnect loop's refusals) are limited per client: at most one a
// second is written; those held back are counted, and the last of them is written
// with the count once the second is over, so the log still ends in the state
// things are in.
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

    ClientLog(Log& out, const Host& clock, Timer& flush) : out_(out), clock_(clock), timer_(flush) {}
    // `who` names the client (its label, or its address before it is one).
    void Line(LogLevel level, const std::string& who, const std::string& text);
    // The timer's tick: lines held back for a second are written now.
    void Flush();

private:
    struct Held {
        int64_t lastMs = 0;
        int count = 0;
        LogLevel level = LogLevel::Info;
        std::string text;
    };
    Log& out_;
    const Host& clock_;
    Timer& timer_;
    std::map<std::string, Held> held_;
};

}  // namespace ovrin
