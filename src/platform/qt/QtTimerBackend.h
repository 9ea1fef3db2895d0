#pragma once
// Real-time backends for the timer models: one QTimer per model.
#include <QTimer>
#include <array>
#include <memory>

#include "platform/Timer.h"

namespace ovrin {
struct frmMain;
}

namespace ovrin::qt {

class QtTimerBackend final : public TimerBackend {
public:
    explicit QtTimerBackend(Timer& model);
    ~QtTimerBackend() override;
    QtTimerBackend(const QtTimerBackend&) = delete;
    QtTimerBackend& operator=(const QtTimerBackend&) = delete;

    void Arm(int intervalMs) override;
    void Disarm() override;
    bool Armed() const { return timer_.isActive(); }

private:
    Timer& model_;
    QTimer timer_;
};

// Binds the window's timers for as long as it lives; unbinds them on
// destruction, so the models never call a backend that is gone.
class WindowTimers {
public:
    explicit WindowTimers(frmMain& f);
    ~WindowTimers();
    WindowTimers(const WindowTimers&) = delete;
    WindowTimers& operator=(const WindowTimers&) = delete;

private:
    std::array<Timer*, 8> models_;
    std::array<std::unique_ptr<QtTimerBackend>, 8> backends_;
};

}  // namespace ovrin::qt
