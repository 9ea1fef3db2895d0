#pragma once
// The one thread the system's handlers run on. A hidden message-only window
// receives what the facilities deliver: work posted from other threads (the serial
// port's reader), timer ticks and socket events. Handlers never run inside a call
// the system made into a facility: everything arrives through the message queue.
#include <windows.h>

#include <deque>
#include <functional>
#include <map>
#include <mutex>

namespace ovrin::win32 {

class MessageLoop {
public:
    static constexpr UINT kSocketMessage = WM_APP + 2;  // WSAAsyncSelect's notifications

    MessageLoop();
    ~MessageLoop();
    MessageLoop(const MessageLoop&) = delete;
    MessageLoop& operator=(const MessageLoop&) = delete;

    HWND Handle() const { return hwnd_; }
    // Runs the work on the loop's thread, in posting order; safe from any thread.
    void Post(std::function<void()> work);
    // Windows timers on the loop: the tick runs until Kill.
    void SetTimer(UINT_PTR id, int intervalMs, std::function<void()> tick);
    void KillTimer(UINT_PTR id);
    // Receives the socket notifications (wParam: the socket, lParam: event and error).
    std::function<void(WPARAM, LPARAM)> socketEvent;

    // Runs until Quit; keyboard navigation (Tab) for the dialog-like window given.
    int Run(HWND dialog = nullptr);
    void Quit(int status = 0);

    // Reports a handler's failure that escaped it; the loop goes on.
    static void Shielded(const char* where, const std::function<void()>& call) noexcept;

private:
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void RunPosted();

    HWND hwnd_ = nullptr;
    std::mutex mutex_;
    std::deque<std::function<void()>> posted_;
    std::map<UINT_PTR, std::function<void()>> timers_;
};

}  // namespace ovrin::win32
