#include "platform/win32/Win32Timers.h"

namespace ovrin::win32 {
namespace {
UINT_PTR NextId() {
    static UINT_PTR next = 100;
    return ++next;
}
}  // namespace

Win32TimerBackend::Win32TimerBackend(MessageLoop& loop, Timer& model) : loop_(loop), model_(model), id_(NextId()) {}

void Win32TimerBackend::Arm(int intervalMs) {
    // SetTimer on a running id restarts its count, as the model wants.
    loop_.SetTimer(id_, intervalMs, [this] { model_.Fire(); });
    armed_ = true;
}

void Win32TimerBackend::Disarm() {
    if (!armed_) return;
    loop_.KillTimer(id_);
    armed_ = false;
}

}  // namespace ovrin::win32
