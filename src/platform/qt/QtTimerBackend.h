#pragma once
// A real-time backend for a timer model: one QTimer.
#include <QTimer>

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

}  // namespace ovrin::qt
