#pragma once
// A timer model. The platform binds a backend that counts real or virtual time and
// calls Fire() when the interval has run. Rules:
//  - starting a stopped timer begins a full interval; starting a running one does
//    not restart its count;
//  - changing the interval of a running timer restarts its count.
#include <functional>
#include <string>

namespace ovrin {

class TimerBackend {
public:
    virtual ~TimerBackend() = default;
    virtual void Arm(int intervalMs) = 0;  // (re)start counting a full interval
    virtual void Disarm() = 0;
};

class Timer {
public:
    Timer(std::string name, int intervalMs, bool enabled)
        : name_(std::move(name)), interval_(intervalMs), enabled_(enabled) {}
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    const std::string& Name() const { return name_; }
    // A timer that only paces what the eye sees may fire a little early or late,
    // so the system can wake once for several; the data path's timers are exact.
    bool Exact() const { return exact_; }
    void SetExact(bool exact) { exact_ = exact; }
    int Interval() const { return interval_; }
    void SetInterval(int ms);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool on);
    void Start() { SetEnabled(true); }
    void Stop() { SetEnabled(false); }

    // The platform attaches its backend; a running timer is armed at once.
    void Bind(TimerBackend* backend);
    // Called by the backend when an interval has run.
    void Fire() {
        if (enabled_ && Tick) Tick();
    }

    std::function<void()> Tick;

private:
    std::string name_;
    int interval_;
    bool enabled_;
    bool exact_ = true;
    TimerBackend* backend_ = nullptr;
};

}  // namespace ovrin
