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

WindowTimers::WindowTimers(MessageLoop& loop, std::vector<Timer*> models) : models_(std::move(models)) {
    for (Timer* model : models_) {
        backends_.push_back(std::make_unique<Win32TimerBackend>(loop, *model));
        model->Bind(backends_.back().get());
    }
}

WindowTimers::~WindowTimers() {
    for (Timer* model : models_) model->Bind(nullptr);
}

}  // namespace ovrin::win32
