#include "platform/qt/QtTimerBackend.h"

#include "app/frmMain.h"
#include "platform/qt/Shield.h"

namespace ovrin::qt {

QtTimerBackend::QtTimerBackend(Timer& model) : model_(model) {
    // The quiet gap that ends a block of radio data is a few milliseconds: every
    // fraction of one a timer fires late is added to each answer.
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { Shielded(model_.Name().c_str(), [this] { model_.Fire(); }); });
}

QtTimerBackend::~QtTimerBackend() = default;

void QtTimerBackend::Arm(int intervalMs) {
    timer_.start(intervalMs < 0 ? 0 : intervalMs);  // start() always begins a full interval
}

void QtTimerBackend::Disarm() {
    timer_.stop();
}

WindowTimers::WindowTimers(frmMain& f)
    : models_{&f.tmrRx,       &f.tmrActivePort, &f.tmrPTT,     &f.tmrPicture,
              &f.tmrPttHold,  &f.tmrReopen,     &f.tmrRxGap,   &f.tmrRxBlock} {
    for (std::size_t i = 0; i < models_.size(); ++i) {
        backends_[i] = std::make_unique<QtTimerBackend>(*models_[i]);
        models_[i]->Bind(backends_[i].get());
    }
}

WindowTimers::~WindowTimers() {
    for (Timer* model : models_) model->Bind(nullptr);
}

}  // namespace ovrin::qt
