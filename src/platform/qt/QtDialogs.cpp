#include "platform/qt/QtDialogs.h"

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <utility>

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

// While a box waits, what the user does anywhere but in the newest box is held off,
// as a modal box would. The box is not modal, though: the toolkit silently drops a
// window close that arrives while a modal box shows (and a box answered by its
// shortcut key still shows for the 100 ms its button is drawn pressed), so the
// window's close button seemed dead. A close now closes; the box that was open
// ends with its safe answer as the event loops end.
class InputHeldOff final : public QObject {
public:
    explicit InputHeldOff(QWidget* box) : box_(box), below_(std::exchange(newest_, box)) {
        qApp->installEventFilter(this);
    }
    ~InputHeldOff() override { newest_ = below_; }

    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::Wheel:
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
            case QEvent::Shortcut:
            case QEvent::ShortcutOverride:
            case QEvent::ContextMenu:
            case QEvent::TouchBegin:
            case QEvent::TabletPress: {
                const auto* widget = qobject_cast<QWidget*>(watched);
                return box_ == newest_ && widget && widget->window() != box_;
            }
            default: return false;
        }
    }

private:
    static inline QWidget* newest_ = nullptr;
    QWidget* box_;
    QWidget* below_;
};

}  // namespace

MsgResult QtDialogs::MsgBox(const std::string& text, MsgButtons buttons, MsgIcon icon, const std::string& title) {
    QString body = ToQ(text);
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    body.replace(QLatin1Char('\r'), QLatin1Char('\n'));

    QMessageBox box(IconOf(icon), ToQ(title), body, QMessageBox::NoButton, parent_);
    box.setTextFormat(Qt::PlainText);
    if (buttons != MsgButtons::OK) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(buttons == MsgButtons::YesNo ? QMessageBox::Yes : QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
    }
    box.setWindowModality(Qt::NonModal);
    {
        const InputHeldOff heldOff(&box);
        QEventLoop loop;
        QObject::connect(&box, &QDialog::finished, &loop, &QEventLoop::quit);
        box.show();
        box.raise();
        box.activateWindow();
        loop.exec();  // also ends when the program ends (its window closed)
    }
    box.hide();
    if (buttons == MsgButtons::OK) return MsgResult::OK;
    const bool yes = box.clickedButton() && box.clickedButton() == box.button(QMessageBox::Yes);
    return yes ? MsgResult::Yes : MsgResult::No;
}

}  // namespace ovrin::qt
