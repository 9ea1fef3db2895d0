#pragma once
// Waiting for the event loop without fixed sleeps.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

namespace ovrin::qt::test {

// Runs the event loop until `done` holds; false when `timeoutMs` passed first.
template <typename Condition>
bool WaitUntil(Condition done, int timeoutMs = 2000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QThread::usleep(500);
    }
    return true;
}

// Runs the event loop for a while: for checks that something does NOT happen.
inline void Drain(int ms) { WaitUntil([] { return false; }, ms); }

}  // namespace ovrin::qt::test
