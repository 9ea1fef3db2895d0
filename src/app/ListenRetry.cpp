#include "app/ListenRetry.h"

#include "net/Listener.h"

namespace ovrin {

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

ListenRetry::ListenRetry(frmMain& f, RepeatFilterLog& log) : f_(f), log_(log) {
    timer_.Tick = [this] { Check(); };
}

bool ListenRetry::OffLine() const { return f_.station.state.OffLine(); }

void ListenRetry::Check() {
    if (OffLine()) {
        if (!offLineTold_) {
            log_.Line(LogLevel::Warning,
                      "Off-line: selecting Listen every " + std::to_string(kIntervalMs / 1000) + " s until it listens");
            offLineTold_ = true;
        }
        SelectListen();
    }
    if (!OffLine()) offLineTold_ = false;
}

void ListenRetry::SelectListen() {
    log_.BeginAttempt();
    StartListening(f_.station);  // a failure ends Off-line; the next tick tries again
    log_.EndAttempt(!OffLine());
}

}  // namespace ovrin
