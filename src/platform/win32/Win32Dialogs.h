#pragma once
// Message boxes: MessageBox with the window as owner, the text's carriage returns
// as line breaks.
#include <windows.h>

#include "platform/Dialogs.h"

namespace ovrin::win32 {

class Win32Dialogs final : public Dialogs {
public:
    void SetOwner(HWND owner) { owner_ = owner; }
    MsgResult MsgBox(const std::string& text, MsgButtons buttons, MsgIcon icon, const std::string& title) override;

private:
    HWND owner_ = nullptr;
};

}  // namespace ovrin::win32
