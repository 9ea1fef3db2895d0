#pragma once
// Qt cannot carry an exception through its event loop. Wherever the event loop calls
// into the system's handlers (timer ticks, socket events, user actions), a handler
// that throws is stopped there and reported, and the program goes on.
#include <QtGlobal>
#include <exception>

namespace ovrin::qt {

template <typename Call>
void Shielded(const char* where, Call&& call) noexcept {
    try {
        call();
    } catch (const std::exception& e) {
        qWarning("%s: unhandled failure: %s", where, e.what());
    } catch (...) {
        qWarning("%s: unhandled failure", where);
    }
}

}  // namespace ovrin::qt
