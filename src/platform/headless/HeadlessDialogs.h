#pragma once
// Message boxes where nobody can answer them: each box is one line of the log, with
// its title and text, and takes the safe answer at once. OK boxes are acknowledged;
// every question is answered No (so the client's RTS request does not turn on
// "Control RTS as PTT"; only the stored setting does).
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/Dialogs.h"
#include "platform/Log.h"

namespace ovrin::headless {

// A retry that fails the same way every few seconds, for days, would repeat the
// same lines. The lines of one attempt are held: an attempt that succeeds writes
// them all; one that fails writes only those not written since the last success.
class RepeatFilterLog final : public Log {
public:
    explicit RepeatFilterLog(Log& out) : out_(out) {}
    void Line(LogLevel level, const std::string& text) override;
    void BeginAttempt() { attempt_ = true; }
    void EndAttempt(bool succeeded);

private:
    static constexpr std::size_t kMaxRemembered = 64;
    void Write(LogLevel level, const std::string& text);

    Log& out_;
    std::set<std::string> written_;
    std::vector<std::pair<LogLevel, std::string>> held_;
    bool attempt_ = false;
};

class HeadlessDialogs final : public Dialogs {
public:
    explicit HeadlessDialogs(Log& log) : log_(log) {}
    MsgResult MsgBox(const std::string& text, MsgButtons buttons, MsgIcon icon, const std::string& title) override;

private:
    Log& log_;
};

}  // namespace ovrin::headless
