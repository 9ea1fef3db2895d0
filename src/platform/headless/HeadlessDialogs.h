#pragma once
// Message boxes where nobody can answer them: each box is one line of the log, with
// its title and text, and takes the safe answer at once. OK boxes are acknowledged;
// every question is answered No (so the client's RTS request does not turn on
// "Control RTS as PTT"; only the stored setting does).
#include <string>

#include "platform/Dialogs.h"
#include "platform/Log.h"

namespace ovrin::headless {

class HeadlessDialogs final : public Dialogs {
public:
    explicit HeadlessDialogs(Log& log) : log_(log) {}
    MsgResult MsgBox(const std::string& text, MsgButtons buttons, MsgIcon icon, const std::string& title) override;
    bool Attended() const override { return false; }

private:
    Log& log_;
};

}  // namespace ovrin::headless
