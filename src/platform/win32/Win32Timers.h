#pragma once
// A real-time backend for a timer model: one Windows timer on the message loop.
// Windows timers tick no faster than about every 10 ms: shorter intervals (the
// 3 ms receive gap) run as 10 ms or so.
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

}  // namespace ovrin::win32
