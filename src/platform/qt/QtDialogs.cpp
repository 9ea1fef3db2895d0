#include "platform/qt/QtDialogs.h"

#include <QMessageBox>

#include "platform/qt/QtText.h"

namespace ovrin::qt {
namespace {

QMessageBox::Icon IconOf(MsgIcon icon) {
    switch (icon) {
        case MsgIcon::Critical: return QMessageBox::Critical;
        case MsgIcon::Question: return QMessageBox::Question;
        case MsgIcon::Exclamation: return QMessageBox::Warning;
        case MsgIcon::Information: return QMessageBox::Information;
        case MsgIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

MsgResult QtDialogs::MsgBox(const std::string& text, MsgButtons buttons, MsgIcon icon, const std::string& title) {
    QString body = ToQ(text);
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    body.replace(QLatin1Char('\r'), QLatin1Char('\n'));

    QMessageBox box(IconOf(icon), ToQ(title), body, QMessageBox::NoButton, parent_);
    box.setTextFormat(Qt::PlainText);
    if (buttons == MsgButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
    }
    const int pressed = box.exec();
    if (buttons == MsgButtons::OK) return MsgResult::OK;
    return pressed == QMessageBox::Yes ? MsgResult::Yes : MsgResult::No;
}

}  // namespace ovrin::qt
