#pragma once
// The transmitter keyed through RTS: who keyed it, and the watchdog that drops a
// key nobody renews. The first connection to key owns it until it releases, leaves
// or the watchdog drops it; the others' key and release commands are refused.
#include <cstdint>
#include <functional>
#include <string>

#include "platform/CommControl.h"
#include "platform/Log.h"
#include "platform/Timer.h"

namespace ovrin {

using ConnectionId = uint64_t;

// The in-band key command must be repeated within this time to keep the key.
inline constexpr int kKeyRepeatMs = 10000;

class Transmitter {
public:
    Transmitter(CommControl& port, Timer& watchdog, Log& log) : port_(port), watchdog_(watchdog), log_(log) {}

    // False when another connection owns the key (nothing changes then). The key
    // drops after `limitMs` unless keyed again (0: no limit); `held`: a key held
    // up to a transmit limit rather than one to be repeated.
    bool Key(ConnectionId who, int limitMs = kKeyRepeatMs, bool held = false);
    bool Release(ConnectionId who);
    // Drops the key whoever holds it: the port closes, the clients go.
    void Drop(const std::string& why = "");
    // The owner has gone: nobody is left to release the key.
    void OwnerLeft(ConnectionId who);
    void WatchdogExpired();

    bool Keyed() const { return owner_ != 0; }
    ConnectionId Owner() const { return owner_; }
    // Runs after every change of the key, so that a view can show it.
    std::function<void()> Changed;

private:
    void Unkey(const std::string& line, LogLevel level);

    CommControl& port_;
    Timer& watchdog_;
    Log& log_;
    ConnectionId owner_ = 0;
    bool held_ = false;  // keyed to hold up to a transmit limit, not to be repeated
};

}  // namespace ovrin
