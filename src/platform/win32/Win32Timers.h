#pragma once
// Real-time backends for the timer models: one Windows timer on the message loop
// per model. Windows timers tick no faster than about every 10 ms: shorter
// intervals (the 3 ms receive gap) run as 10 ms or so.
#include <memory>
#include <vector>

#include "platform/Timer.h"
#include "platform/win32/MessageLoop.h"

namespace ovrin::win32 {

class Win32TimerBackend final : public TimerBackend {
public:
    Win32TimerBackend(MessageLoop& loop, Timer& model);
    ~Win32TimerBackend() override { Disarm(); }
    Win32TimerBackend(const Win32TimerBackend&) = delete;
    Win32TimerBackend& operator=(const Win32TimerBackend&) = delete;
    void Arm(int intervalMs) override;
    void Disarm() override;

private:
    MessageLoop& loop_;
    Timer& model_;
    UINT_PTR id_;
    bool armed_ = false;
};

// Binds the given timers for as long as it lives, and unbinds them at its end.
class WindowTimers {
public:
    WindowTimers(MessageLoop& loop, std::vector<Timer*> models);
    ~WindowTimers();
    WindowTimers(const WindowTimers&) = delete;
    WindowTimers& operator=(const WindowTimers&) = delete;

private:
    std::vector<Timer*> models_;
    std::vector<std::unique_ptr<Win32TimerBackend>> backends_;
};

}  // namespace ovrin::win32
