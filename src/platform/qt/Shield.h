#pragma once
// Qt cannot carry an exception through its event loop. Wherever the event loop calls
// into the system's handlers (timer ticks, socket events, user actions), a handler
// that throws is stopped there and reported, and the program goes on.
#include <QtGlobal>
#include <exception>
#include <functional>

namespace ovrin::qt {

// Runs the work once the handler now running is done (at once outside any): a
// picture that a handler hides, changes and shows again is mirrored once, in the
// same pass of the event loop, with no event posted for it.
void AfterHandler(std::function<void()> work);

// Whether a handler is running (a message box's loop runs inside one).
bool InHandler();

// Marks a call of ours into Qt that may report events on the spot (waitForReadyRead,
// flush): those must wait for the event loop, as handlers do not nest. An event
// that comes with no handler running and no such call open comes from the event
// loop itself and may be handled at once.
class OwnCall {
public:
    explicit OwnCall(int& open) : open_(open) { ++open_; }
    ~OwnCall() { --open_; }
    OwnCall(const OwnCall&) = delete;
    OwnCall& operator=(const OwnCall&) = delete;

private:
    int& open_;
};

namespace shield {
void Began();
void Done();
}  // namespace shield

template <typename Call>
void Shielded(const char* where, Call&& call) noexcept {
    shield::Began();
    try {
        call();
    } catch (const std::exception& e) {
        qWarning("%s: unhandled failure: %s", where, e.what());
    } catch (...) {
        qWarning("%s: unhandled failure", where);
    }
    shield::Done();
}

}  // namespace ovrin::qt
