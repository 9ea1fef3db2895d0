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

void RepeatFilterLog::Line(LogLevel level, const std::string& text) {
    if (attempt_) held_.emplace_back(level, text);
    else Write(level, text);
}

void RepeatFilterLog::EndAttempt(bool succeeded) {
    attempt_ = false;
    if (succeeded) written_.clear();
    for (const auto& [level, text] : std::exchange(held_, {}))
        if (succeeded || written_.count(text) == 0) Write(level, text);
}

void RepeatFilterLog::Write(LogLevel level, const std::string& text) {
    out_.Line(level, text);
    if (written_.size() >= kMaxRemembered) written_.clear();
    written_.insert(text);
}

MsgResult HeadlessDialogs::MsgBox(const std::string& text, MsgButtons buttons, MsgIcon icon,
                                  const std::string& title) {
    const MsgResult answer = buttons == MsgButtons::YesNo ? MsgResult::No : MsgResult::OK;
    log_.Line(LevelOf(icon), title + ": " + text + (answer == MsgResult::No ? " [answered No]" : ""));
    return answer;
}

}  // namespace ovrin::headless
