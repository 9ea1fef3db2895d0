#include "platform/Timer.h"

namespace ovrin {

void Timer::SetInterval(int ms) {
    interval_ = ms;
    if (enabled_ && backend_) backend_->Arm(interval_);
}

void Timer::SetEnabled(bool on) {
    if (on == enabled_) return;  // a running count is never restarted by Start
    enabled_ = on;
    if (!backend_) return;
    if (on) backend_->Arm(interval_);
    else backend_->Disarm();
}

void Timer::Bind(TimerBackend* backend) {
    if (backend_) backend_->Disarm();
    backend_ = backend;
    if (backend_ && enabled_) backend_->Arm(interval_);
}

}  // namespace ovrin
