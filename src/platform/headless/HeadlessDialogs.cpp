#include "platform/headless/HeadlessDialogs.h"

namespace ovrin::headless {
namespace {

// The boxes without an icon report failures ("Error opening COM1") or ask a question
// an operator should know was refused, so they rank as warnings.
LogLevel LevelOf(MsgIcon icon) {
    switch (icon) {
        case MsgIcon::Critical: return LogLevel::Error;
        case MsgIcon::Information:
        case MsgIcon::Question: return LogLevel::Info;
        case MsgIcon::Exclamation:
        case MsgIcon::None: break;
    }
    return LogLevel::Warning;
}

}  // namespace

MsgResult HeadlessDialogs::MsgBox(const std::string& text, MsgButtons buttons, MsgIcon icon,
                                  const std::string& title) {
    const MsgResult answer = buttons == MsgButtons::OK ? MsgResult::OK : MsgResult::No;
    log_.Line(LevelOf(icon), title + ": " + text + (answer == MsgResult::No ? " [answered No]" : ""));
    return answer;
}

}  // namespace ovrin::headless
