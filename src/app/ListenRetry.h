#pragma once
// Without a window nobody can select Listen. Whenever the server is Off-line (its
// port in use, the serial port that "Com Port active in Listen Mode" needs missing,
// or Off-line as stored), Listen is selected again every few seconds, as a user
// would, until the server listens. The log tells each failure once, not every try.
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "model/frmMain.h"
#include "platform/Log.h"
#include "platform/Timer.h"

namespace ovrin {

// A retry that fails the same way every few seconds, for days, would repeat the
// same lines. The lines of one attempt are held: an attempt that succeeds writes
// them all; one that fails writes only those not written since the last success.
class RepeatFilterLog final : public Log {
public:
    explicit RepeatFilterLog(Log& out) : out_(out) {}
    void Line(LogLevel level, const std::string& text) override;
    void BeginAttempt() { attempt_ = true; }
    void EndAttempt(bool succeeded);

private:
    static constexpr std::size_t kMaxRemembered = 64;
    void Write(LogLevel level, const std::string& text);

    Log& out_;
    std::set<std::string> written_;
    std::vector<std::pair<LogLevel, std::string>> held_;
    bool attempt_ = false;
};


class ListenRetry {
public:
    static constexpr int kIntervalMs = 5000;

    // `log` is the one the program's lines go through.
    ListenRetry(frmMain& f, RepeatFilterLog& log);

    // The platform binds its backend to this timer; it runs from the start.
    Timer& RetryTimer() { return timer_; }
    // Run once right after start-up, then at every tick.
    void Check();

private:
    bool OffLine() const;
    void SelectListen();

    frmMain& f_;
    RepeatFilterLog& log_;
    Timer timer_{"tmrListenRetry", kIntervalMs, true};
    bool offLineTold_ = false;
};

}  // namespace ovrin
