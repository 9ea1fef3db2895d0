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
    const MsgResult answer = buttons == MsgButtons::YesNo ? MsgResult::No : MsgResult::OK;
    std::string line = title + ": " + text;
    if (answer == MsgResult::No) line += " [answered No]";
    ++shown_;
    if (quietRepeats_ && logged_.count(line) != 0) return answer;
    log_.Line(LevelOf(icon), line);
    if (logged_.size() >= kMaxRemembered) logged_.clear();
    logged_.insert(line);
    return answer;
}

}  // namespace ovrin::headless
