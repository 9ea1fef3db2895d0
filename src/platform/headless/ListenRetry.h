#pragma once
// Without a window nobody can select Listen. Whenever the server is Off-line (its
// port in use, the serial port that "Com Port active in Listen Mode" needs missing,
// or Off-line as stored), Listen is selected again every few seconds, as a user
// would, until the server listens. The log tells each failure once, not every try.
#include "app/frmMain.h"
#include "platform/Timer.h"
#include "platform/headless/HeadlessDialogs.h"

namespace ovrin::headless {

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

}  // namespace ovrin::headless
