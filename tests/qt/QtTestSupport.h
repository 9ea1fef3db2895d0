#pragma once
// Waiting for the event loop without fixed sleeps: poll a condition while events
// are processed, up to a bound.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

namespace ovrin::qt::test {

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
inline void Drain(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QThread::usleep(500);
    }
}

}  // namespace ovrin::qt::test
