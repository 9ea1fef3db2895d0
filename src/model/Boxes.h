#pragma once
// Message boxes that report a problem again and again (each new client finding the
// serial port missing): while one is open (its nested event loop runs on), an
// identical one is not stacked on it. The problem is logged where it happens, so
// without a person at the window there is no box at all.
#include <set>
#include <string>

#include "platform/Dialogs.h"

namespace ovrin {

class Boxes {
public:
    explicit Boxes(Dialogs& dialogs) : dialogs_(dialogs) {}
    void ShowOnce(const std::string& text, MsgIcon icon, const std::string& title) {
        if (!dialogs_.Attended()) return;
        const std::string key = title + '\n' + text;
        if (!open_.insert(key).second) return;
        try {
            dialogs_.MsgBox(text, MsgButtons::OK, icon, title);
        } catch (...) {
            open_.erase(key);
            throw;
        }
        open_.erase(key);
    }

private:
    Dialogs& dialogs_;
    std::set<std::string> open_;
};

}  // namespace ovrin
