#include "platform/win32/Win32Dialogs.h"

#include <algorithm>

#include "platform/win32/Win32Text.h"

namespace ovrin::win32 {
namespace {

// The boxes of the one thread that shows them; the hooks find them here.
Win32Dialogs* gShowing = nullptr;

UINT IconOf(MsgIcon icon) {
    switch (icon) {
        case MsgIcon::Critical: return MB_ICONERROR;
        case MsgIcon::Question: return MB_ICONQUESTION;
        case MsgIcon::Exclamation: return MB_ICONWARNING;
        case MsgIcon::Information: return MB_ICONINFORMATION;
        case MsgIcon::None: break;
    }
    return 0;
}

bool IsBox(HWND hwnd) {
    wchar_t name[16] = L"";
    return GetClassNameW(hwnd, name, 16) && std::wstring(name) == L"#32770";
}

}  // namespace

MsgResult Win32Dialogs::MsgBox(const std::string& text, MsgButtons buttons, MsgIcon icon, const std::string& title) {
    if (ending_) return buttons == MsgButtons::OK ? MsgResult::OK : MsgResult::No;
    std::string body;
    for (std::size_t i = 0; i < text.size(); ++i) {
        body += text[i];
        if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) body += '\n';
    }
    const UINT kind = (buttons == MsgButtons::YesNo            ? MB_YESNO | MB_DEFBUTTON1
                       : buttons == MsgButtons::YesNoDefaultNo ? MB_YESNO | MB_DEFBUTTON2
                                                               : MB_OK) |
                      IconOf(icon);
    const bool first = open_.empty() && !watch_;
    if (first) {
        gShowing = this;
        watch_ = SetWindowsHookExW(WH_CBT, &Watch, nullptr, GetCurrentThreadId());
        input_ = SetWindowsHookExW(WH_GETMESSAGE, &Input, nullptr, GetCurrentThreadId());
    }
    const int pressed = MessageBoxW(owner_, Wide(body).c_str(), Wide(title).c_str(), kind);
    if (first) {
        UnhookWindowsHookEx(watch_);
        UnhookWindowsHookEx(input_);
        watch_ = input_ = nullptr;
        gShowing = nullptr;
        open_.clear();
    }
    // A box's own loop may have taken the request to end the loop with it.
    if (ending_) PostQuitMessage(0);
    if (buttons == MsgButtons::OK) return MsgResult::OK;
    return pressed == IDYES ? MsgResult::Yes : MsgResult::No;
}

void Win32Dialogs::EndAll() {
    ending_ = true;
    // IDNO ends a Yes/No box with No; an OK box reads any end as OK.
    for (auto box = open_.rbegin(); box != open_.rend(); ++box)
        if (IsWindow(*box)) EndDialog(*box, IDNO);
}

// Notes each box as it is made and forgets it as it goes.
LRESULT CALLBACK Win32Dialogs::Watch(int code, WPARAM wParam, LPARAM lParam) {
    Win32Dialogs* self = gShowing;
    const auto hwnd = reinterpret_cast<HWND>(wParam);
    if (self && code == HCBT_CREATEWND && IsBox(hwnd)) self->open_.push_back(hwnd);
    if (self && code == HCBT_DESTROYWND)
        self->open_.erase(std::remove(self->open_.begin(), self->open_.end(), hwnd), self->open_.end());
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// What each loop takes from the queue while a box is open: MessageBox disables its
// owner, which would leave the window's close button dead, so the owner is enabled
// again and the input meant for anything but the newest box is dropped instead.
// The window's frame (its caption, its close button) and Alt+F4 still work.
LRESULT CALLBACK Win32Dialogs::Input(int code, WPARAM wParam, LPARAM lParam) {
    Win32Dialogs* self = gShowing;
    auto* msg = reinterpret_cast<MSG*>(lParam);
    if (self && code == HC_ACTION && wParam == PM_REMOVE && !self->open_.empty()) {
        if (self->owner_ && !IsWindowEnabled(self->owner_)) EnableWindow(self->owner_, TRUE);
        const UINT m = msg->message;
        const bool key = m >= WM_KEYFIRST && m <= WM_KEYLAST;
        const bool mouse = m >= WM_MOUSEFIRST && m <= WM_MOUSELAST;
        const bool altF4 = m == WM_SYSKEYDOWN && msg->wParam == VK_F4;
        const HWND newest = self->open_.back();
        if ((key || mouse) && !altF4 && msg->hwnd && GetAncestor(msg->hwnd, GA_ROOT) != newest) {
            if (m == WM_LBUTTONDOWN || m == WM_RBUTTONDOWN || key) SetActiveWindow(newest);
            msg->message = WM_NULL;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace ovrin::win32
