#pragma once
// Real-time backends for the timer models: one QTimer per model.
#include <QTimer>
#include <memory>
#include <vector>

#include "platform/Timer.h"

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

// Binds the given timers for as long as it lives; unbinds them on destruction,
// so the models never call a backend that is gone.
class WindowTimers {
public:
    explicit WindowTimers(std::vector<Timer*> models);
    ~WindowTimers();
    WindowTimers(const WindowTimers&) = delete;
    WindowTimers& operator=(const WindowTimers&) = delete;

private:
    std::vector<Timer*> models_;
    std::vector<std::unique_ptr<QtTimerBackend>> backends_;
};

}  // namespace ovrin::qt
