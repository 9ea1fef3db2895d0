#include "model/Transmitter.h"

#include "base/Errors.h"

namespace ovrin {

bool Transmitter::Key(ConnectionId who, int limitMs, bool held) {
    if (owner_ != 0 && owner_ != who) {
        log_.Line(LogLevel::Warning, "PTT key refused: another client has the transmitter keyed");
        return false;
    }
    if (owner_ == 0) log_.Line(LogLevel::Info, "PTT keyed: RTS up");
    owner_ = who;
    held_ = held;
    TryStep([&] { port_.SetRTSEnable(true); });
    watchdog_.Stop();
    if (limitMs > 0) {
        watchdog_.SetInterval(limitMs);
        watchdog_.Start();
    }
    if (Changed) Changed();
    return true;
}

bool Transmitter::Release(ConnectionId who) {
    if (owner_ != 0 && owner_ != who) {
        log_.Line(LogLevel::Warning, "PTT release refused: another client has the transmitter keyed");
        return false;
    }
    // A release with nothing keyed still drops RTS: the line may have been left up.
    Unkey(owner_ != 0 ? "PTT released: RTS down" : "", LogLevel::Info);
    return true;
}

void Transmitter::Drop(const std::string& why) {
    if (owner_ != 0) Unkey("PTT released: RTS down" + (why.empty() ? std::string() : " (" + why + ")"), LogLevel::Info);
}

void Transmitter::OwnerLeft(ConnectionId who) {
    if (owner_ != 0 && owner_ == who) Unkey("PTT released: RTS down (its client has gone)", LogLevel::Info);
}

void Transmitter::WatchdogExpired() {
    if (owner_ == 0) return;
    const std::string seconds = std::to_string(watchdog_.Interval() / 1000) + " s";
    Unkey(held_ ? "PTT dropped: the transmit limit of " + seconds + " was reached"
                : "PTT dropped by the watchdog: no key command for " + seconds,
          LogLevel::Warning);
}

void Transmitter::Unkey(const std::string& line, LogLevel level) {
    if (!line.empty()) log_.Line(level, line);
    owner_ = 0;
    watchdog_.Stop();
    TryStep([&] { port_.SetRTSEnable(false); });
    if (Changed) Changed();
}

}  // namespace ovrin
