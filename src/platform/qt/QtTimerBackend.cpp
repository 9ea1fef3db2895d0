#include "platform/qt/QtTimerBackend.h"

#include "platform/qt/Shield.h"

namespace ovrin::qt {

QtTimerBackend::QtTimerBackend(Timer& model) : model_(model) {
    // The quiet gap that ends a block of radio data is a few milliseconds: every
    // fraction of one a timer fires late is added to each answer.
    timer_.setTimerType(model.Exact() ? Qt::PreciseTimer : Qt::CoarseTimer);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { Shielded(model_.Name().c_str(), [this] { model_.Fire(); }); });
}

QtTimerBackend::~QtTimerBackend() = default;

void QtTimerBackend::Arm(int intervalMs) {
    timer_.start(intervalMs < 0 ? 0 : intervalMs);  // start() always begins a full interval
}

void QtTimerBackend::Disarm() {
    timer_.stop();
}

}  // namespace ovrin::qt
