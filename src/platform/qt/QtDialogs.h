#pragma once
// Message boxes on QMessageBox, each waited on in a nested event loop: timers and
// socket events keep arriving while a box is open, as the handlers expect. The
// window's close is obeyed even then (the open box takes its safe answer).
#include <QPointer>
#include <QWidget>

#include "platform/Dialogs.h"

namespace ovrin::qt {

class QtDialogs final : public Dialogs {
public:
    // The window the boxes belong to; until one is set they stand alone.
    void SetParent(QWidget* parent) { parent_ = parent; }

    MsgResult MsgBox(const std::string& text, MsgButtons buttons, MsgIcon icon, const std::string& title) override;

private:
    QPointer<QWidget> parent_;
};

}  // namespace ovrin::qt
