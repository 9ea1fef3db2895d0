#pragma once
// Message boxes where nobody can answer them: each box is one line of the log, with
// its title and text, and takes the safe answer at once. OK boxes are acknowledged;
// every question is answered No (so the client's RTS request does not turn on
// "Control RTS as PTT"; only the stored setting does).
#include <set>
#include <string>

#include "platform/Dialogs.h"
#include "platform/Log.h"

namespace ovrin::headless {

class HeadlessDialogs final : public Dialogs {
public:
    explicit HeadlessDialogs(Log& log) : log_(log) {}

    MsgResult MsgBox(const std::string& text, MsgButtons buttons, MsgIcon icon, const std::string& title) override;

    // While set, a box already logged since the last ForgetRepeats is not logged
    // again: a retry would otherwise repeat the same lines every few seconds for days.
    void SetQuietRepeats(bool quiet) { quietRepeats_ = quiet; }
    void ForgetRepeats() { logged_.clear(); }
    // Boxes shown so far, logged or not.
    int Shown() const { return shown_; }

private:
    static constexpr std::size_t kMaxRemembered = 32;

    Log& log_;
    std::set<std::string> logged_;
    bool quietRepeats_ = false;
    int shown_ = 0;
};

}  // namespace ovrin::headless
