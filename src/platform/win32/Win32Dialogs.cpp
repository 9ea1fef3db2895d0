#include "platform/win32/Win32Dialogs.h"

#include "platform/win32/Win32Text.h"

namespace ovrin::win32 {
namespace {

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

}  // namespace

MsgResult Win32Dialogs::MsgBox(const std::string& text, MsgButtons buttons, MsgIcon icon, const std::string& title) {
    std::string body;
    for (std::size_t i = 0; i < text.size(); ++i) {
        body += text[i];
        if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) body += '\n';
    }
    const UINT kind = (buttons == MsgButtons::YesNo            ? MB_YESNO | MB_DEFBUTTON1
                       : buttons == MsgButtons::YesNoDefaultNo ? MB_YESNO | MB_DEFBUTTON2
                                                               : MB_OK) |
                      IconOf(icon);
    const int pressed = MessageBoxW(owner_, Wide(body).c_str(), Wide(title).c_str(), kind);
    if (buttons == MsgButtons::OK) return MsgResult::OK;
    return pressed == IDYES ? MsgResult::Yes : MsgResult::No;
}

}  // namespace ovrin::win32
