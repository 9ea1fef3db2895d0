#pragma once
// Modal message boxes. Line breaks in the text are carriage returns (13); the view
// shows them as line breaks. The first button is the default one, but for
// YesNoDefaultNo: a question whose Yes changes something a careless Return must
// not (turning on hardware control of the transmitter).
#include <string>

namespace ovrin {

enum class MsgIcon { None, Critical, Question, Exclamation, Information };
enum class MsgButtons { OK, YesNo, YesNoDefaultNo };
enum class MsgResult { OK, Yes, No };

class Dialogs {
public:
    virtual ~Dialogs() = default;
    virtual MsgResult MsgBox(const std::string& text, MsgButtons buttons, MsgIcon icon,
                             const std::string& title) = 0;
    // Whether a person sees the boxes. Without one each box is a log line, and a
    // box that only repeats a line already logged is left out.
    virtual bool Attended() const { return true; }
};

}  // namespace ovrin
