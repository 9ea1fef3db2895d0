#include "platform/qt/TerminationRequest.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include "platform/qt/Shield.h"

#if defined(Q_OS_UNIX)
#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace ovrin::qt {

#if defined(Q_OS_UNIX)
namespace {

// Written by the signal handler, read by the event loop (the self-pipe pattern:
// a signal handler may do nothing but write a byte).
int wakeFds[2] = {-1, -1};

extern "C" void WakeEventLoop(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFds[0], &byte, 1);
    errno = saved;
}

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

}  // namespace

TerminationRequest::TerminationRequest(std::function<void()> onRequest, QObject* parent)
    : QObject(parent), onRequest_(std::move(onRequest)) {
    if (wakeFds[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, wakeFds) != 0) return;
    ::fcntl(wakeFds[0], F_SETFL, O_NONBLOCK);
    ::fcntl(wakeFds[1], F_SETFL, O_NONBLOCK);
    notifier_ = new QSocketNotifier(wakeFds[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(wakeFds[1], bytes, sizeof bytes) > 0) {
        }
        // A second request means the first could not finish (a message box that
        // nobody can answer, say, at logout or offscreen): end every event loop.
        if (handled_) {
            QCoreApplication::exit(0);
            return;
        }
        handled_ = true;
        Shielded("termination request", [this] {
            if (onRequest_) onRequest_();
        });
    });
    struct sigaction action = {};
    action.sa_handler = WakeEventLoop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : kSignals) ::sigaction(sig, &action, nullptr);
}

TerminationRequest::~TerminationRequest() {
    if (!notifier_) return;
    for (int sig : kSignals) ::signal(sig, SIG_DFL);
    delete notifier_;
    ::close(wakeFds[0]);
    ::close(wakeFds[1]);
    wakeFds[0] = wakeFds[1] = -1;
}

#else

TerminationRequest::TerminationRequest(std::function<void()> onRequest, QObject* parent)
    : QObject(parent), onRequest_(std::move(onRequest)) {}

TerminationRequest::~TerminationRequest() = default;

#endif

}  // namespace ovrin::qt
