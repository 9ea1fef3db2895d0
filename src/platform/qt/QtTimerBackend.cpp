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

WindowTimers::WindowTimers(std::vector<Timer*> models) : models_(std::move(models)) {
    for (Timer* model : models_) {
        backends_.push_back(std::make_unique<QtTimerBackend>(*model));
        model->Bind(backends_.back().get());
    }
}

WindowTimers::~WindowTimers() {
    for (Timer* model : models_) model->Bind(nullptr);
}

}  // namespace ovrin::qt
