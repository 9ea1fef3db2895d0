#pragma once
// A request from outside to end the program (SIGTERM at logout or shutdown, SIGINT,
// SIGHUP) is handled like the user closing the window, so the settings are saved.
// The signal only wakes the event loop; `onRequest` runs there, once.
#include <QObject>
#include <functional>

class QSocketNotifier;

namespace ovrin::qt {

class TerminationRequest final : public QObject {
    Q_OBJECT
public:
    explicit TerminationRequest(std::function<void()> onRequest, QObject* parent = nullptr);
    ~TerminationRequest() override;

private:
    std::function<void()> onRequest_;
    QSocketNotifier* notifier_ = nullptr;
    bool handled_ = false;
};

}  // namespace ovrin::qt
