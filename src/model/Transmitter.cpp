#include "model/Transmitter.h"

#include <cstdio>
#include <utility>

#include "station/OptionsText.h"

namespace ovrin {
namespace {

std::string Seconds(int64_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000.0);
    return text;
}

}  // namespace

bool Transmitter::Key(const KeyRequest& request) {
    KeyRequest r = request;
    if (owner_ != 0 && owner_ != r.who) {
        const std::string holder = recent_.empty() ? std::string("another client") : recent_.back().client;
        log_.Line(LogLevel::Warning, r.client,
                  "PTT key refused: " + r.client + " by " + r.how + ": " + holder + " has the transmitter keyed");
        return false;
    }
    // A renewal of the owner's own key is no new transmission.
    if (owner_ == 0 && MayKey) {
        if (const auto why = MayKey(r)) {
            log_.Line(LogLevel::Warning, r.client, "PTT key refused: " + r.client + " by " + r.how + ": " + *why);
            return false;
        }
    }
    if (owner_ == 0) {
        std::string line = "PTT keyed: " + r.client + " by " + r.how;
        if (!r.role.empty()) line += ", role " + r.role;
        if (r.hz >= 0) line += ", on " + Megahertz(r.hz);
        log_.Record(LogLevel::Info, r.client, line);
        recent_.push_back({r.client, r.how, clock_.MonotonicMs(), clock_.WallClockMs(), -1, {}, r.role, r.hz});
        if (recent_.size() > kKept) recent_.pop_front();
        way_ = r.way;
    }
    owner_ = r.who;
    if (r.way == KeyWay::Cat) {
        catRelease_ = r.release;
    } else {
        lineUp_ = true;
        SetPttLine(true);
    }
    watchdog_.Stop();
    if (r.limitMs > 0) {
        watchdog_.SetInterval(r.limitMs);
        watchdog_.Start();
    }
    Changed();
    return true;
}

bool Transmitter::Release(ConnectionId who, KeyWay way, const std::string& client, const std::string& how) {
    if (owner_ != 0 && owner_ != who) {
        const std::string holder = recent_.empty() ? std::string("another client") : recent_.back().client;
        log_.Line(LogLevel::Warning, client,
                  "PTT release ignored: " + client + " by " + how + ": " + holder + " has the transmitter keyed");
        return false;
    }
    if (owner_ == 0) {
        if (way != KeyWay::Cat) SetPttLine(false);
        return true;
    }
    // Its own CAT release goes to the radio as it sent it.
    End("released by " + how, LogLevel::Info, false, way != KeyWay::Cat);
    return true;
}

void Transmitter::Drop(const std::string& why, bool portClosing) {
    if (owner_ != 0) End(why, LogLevel::Info, portClosing);
}

void Transmitter::OwnerLeft(ConnectionId who, const std::string& why) {
    if (owner_ != 0 && owner_ == who) End(why, LogLevel::Info);
}

void Transmitter::SetLine(PttLine line) {
    if (line == line_) return;
    Drop("the PTT line changed", true);
    line_ = line;
}

void Transmitter::SetPttLine(bool on) {
    TryStep(faults_, [&] {
        if (line_ == PttLine::Dtr) port_.SetDTREnable(on);
        else port_.SetRTSEnable(on);
    });
}

void Transmitter::WatchdogExpired() {
    if (owner_ == 0) return;
    const std::string seconds = std::to_string(watchdog_.Interval() / 1000) + " s";
    End(way_ == KeyWay::InBand ? "the watchdog: no key command for " + seconds
                               : "the transmit limit of " + seconds + " was reached",
        LogLevel::Warning);
}

void Transmitter::End(const std::string& why, LogLevel level, bool portClosing, bool writeRelease) {
    owner_ = 0;
    watchdog_.Stop();
    if (lineUp_) SetPttLine(false);
    lineUp_ = false;
    const Bytes release = std::exchange(catRelease_, {});
    if (!release.empty() && writeRelease && WriteRelease) WriteRelease(release, portClosing);
    std::string line = "PTT released: ", client;
    if (!recent_.empty() && recent_.back().endedMs < 0) {
        Transmission& t = recent_.back();
        t.endedMs = clock_.MonotonicMs();
        t.ended = why;
        client = t.client;
        line += t.client + ", keyed by " + t.how + " for " + Seconds(t.endedMs - t.startedMs) + ": " + why;
    } else {
        line += why;
    }
    log_.Record(level, client, line);
    Changed();
}

}  // namespace ovrin
