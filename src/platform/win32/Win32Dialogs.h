#pragma once
// Message boxes: MessageBox with the window as owner, the text's carriage returns
// as line breaks. While a box is open the rest of the window takes no input, as
// under a modal box, but the window stays enabled: its close button closes the
// program (EndAll then gives each open box its safe answer), as on Linux.
#include <windows.h>

#include <vector>

#include "platform/Dialogs.h"

namespace ovrin::win32 {

class Win32Dialogs final : public Dialogs {
public:
    void SetOwner(HWND owner) { owner_ = owner; }
    MsgResult MsgBox(const std::string& text, MsgButtons buttons, MsgIcon icon, const std::string& title) override;
    // The program ends: every open box ends with its safe answer (No, or OK), and
    // a box asked for from now on is answered so at once, unseen.
    void EndAll();

private:
    static LRESULT CALLBACK Watch(int code, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK Input(int code, WPARAM wParam, LPARAM lParam);

    HWND owner_ = nullptr;
    bool ending_ = false;
    std::vector<HWND> open_;  // the boxes shown, the newest last
    HHOOK watch_ = nullptr, input_ = nullptr;
};

}  // namespace ovrin::win32
