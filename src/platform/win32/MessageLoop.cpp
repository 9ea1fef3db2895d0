#include "platform/win32/MessageLoop.h"

#include <cstdio>
#include <exception>

namespace ovrin::win32 {
namespace {

constexpr UINT kRunPosted = WM_APP + 1;
constexpr wchar_t kClass[] = L"OvrinServerLoop";

}  // namespace

MessageLoop::MessageLoop() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &MessageLoop::Procedure;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kClass;
    RegisterClassW(&wc);  // fails harmlessly when registered already
    hwnd_ = CreateWindowExW(0, kClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

MessageLoop::~MessageLoop() {
    for (const auto& [id, tick] : timers_) ::KillTimer(hwnd_, id);
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
}

void MessageLoop::Post(std::function<void()> work) {
    bool first;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        first = posted_.empty();
        posted_.push_back(std::move(work));
    }
    if (first) PostMessageW(hwnd_, kRunPosted, 0, 0);
}

void MessageLoop::RunPosted() {
    for (;;) {
        std::function<void()> work;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (posted_.empty()) return;
            work = std::move(posted_.front());
            posted_.pop_front();
        }
        Shielded("posted work", work);
    }
}

void MessageLoop::SetTimer(UINT_PTR id, int intervalMs, std::function<void()> tick) {
    timers_[id] = std::move(tick);
    ::SetTimer(hwnd_, id, static_cast<UINT>(intervalMs < 1 ? 1 : intervalMs), nullptr);
}

void MessageLoop::KillTimer(UINT_PTR id) {
    ::KillTimer(hwnd_, id);
    timers_.erase(id);
}

int MessageLoop::Run(HWND dialog) {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (dialog && IsDialogMessageW(dialog, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

void MessageLoop::Quit(int status) { PostQuitMessage(status); }

void MessageLoop::Shielded(const char* where, const std::function<void()>& call) noexcept {
    try {
        if (call) call();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: unhandled failure: %s\n", where, e.what());
    } catch (...) {
        std::fprintf(stderr, "%s: unhandled failure\n", where);
    }
}

LRESULT CALLBACK MessageLoop::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<MessageLoop*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self) {
        switch (message) {
            case kRunPosted:
                self->RunPosted();
                return 0;
            case WM_TIMER: {
                const auto found = self->timers_.find(wParam);
                if (found != self->timers_.end()) {
                    const std::function<void()> tick = found->second;  // the tick may kill its timer
                    Shielded("timer", tick);
                }
                return 0;
            }
            case kSocketMessage:
                if (self->socketEvent) {
                    const auto event = self->socketEvent;
                    Shielded("socket", [&] { event(wParam, lParam); });
                }
                return 0;
            default: break;
        }
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace ovrin::win32
