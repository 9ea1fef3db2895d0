#pragma once
// The allow-list at the door: a connection request from elsewhere is refused before
// it is accepted, so nothing is read from that connection or written to it. Each
// refused address is logged at most once a minute: a scan cannot flood the log.
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>

#include "allow/AllowList.h"
#include "platform/Log.h"
#include "platform/Timer.h"

namespace ovrin {

struct Station;

class Admission {
public:
    static constexpr int kLogQuietMs = 60000;
    explicit Admission(Log& log) : log_(log) {
        timer_.Tick = [this] { Forget(); };
    }
    // The platform binds its backend to this timer.
    Timer& QuietTimer() { return timer_; }
    // Whether the allow-list (the option's text: entries with commas between them,
    // empty for any address) lets the address in.
    bool Admits(const std::string& allow, const std::string& address);

private:
    // Past this many addresses in a minute, further ones are refused unlogged.
    static constexpr std::size_t kMaxRemembered = 1024;
    void Forget();

    // The list as last parsed, and the text it was parsed from.
    std::string allowText_;
    AllowList allowed_;
    bool broken_ = false;
    Log& log_;
    // Logged in this period and the one before: an address leaves both only after
    // a full period without a line, so two lines are at least a minute apart.
    std::set<std::string> logged_, loggedBefore_;
    Timer timer_{"tmrAllowLog", kLogQuietMs, false};
};

// The role of a client the allow-list let in: its first matching entry's; a list
// that cannot be read (the door is shut then) or no match gives the least.
cat::Role AdmittedRole(const std::string& allow, const std::string& address);

// The accept path's check: false when the request was refused (it is left
// unaccepted, and the socket facility closes it).
bool AdmitRequest(Station& station, int32_t requestID);

// The allow-list's admission on a program's event loop: its log limit runs on a
// timer backend the platform makes. The list is the options' at each request (the
// window may change it while Off-line); without entries nobody is turned away.
class Door {
public:
    using MakeBackend = std::function<std::unique_ptr<TimerBackend>(Timer&)>;
    Door(Log& log, const MakeBackend& make) : admission_(log), backend_(make(admission_.QuietTimer())) {
        admission_.QuietTimer().Bind(backend_.get());
    }
    ~Door() { admission_.QuietTimer().Bind(nullptr); }
    Door(const Door&) = delete;
    Door& operator=(const Door&) = delete;
    void Guard(Station& station);

private:
    Admission admission_;
    std::unique_ptr<TimerBackend> backend_;
};

}  // namespace ovrin
