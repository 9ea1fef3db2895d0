// What comes from the event loop: timer ticks whose handlers throw, message boxes
// the user answers, termination signals. The window's widgets are used on a real
// display by tests/window.
#include <QEventLoop>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <gtest/gtest.h>

#include "QtTestSupport.h"
#include "base/Errors.h"
#include "platform/qt/QtDialogs.h"
#include "platform/qt/QtTimerBackend.h"
#include "platform/qt/TerminationRequest.h"

namespace ovrin::qt {
namespace {

using test::WaitUntil;

TEST(QtTimerBackendTest, AHandlerThatThrowsLeavesTheEventLoopRunning) {
    Timer timer("tmrRx", 5, true);
    int polls = 0;
    timer.Tick = [&] { ++polls; throw PlatformError("The device is not open"); };
    QtTimerBackend backend(timer);
    timer.Bind(&backend);
    EXPECT_TRUE(WaitUntil([&] { return polls >= 2; }, 1000));
    timer.Bind(nullptr);
}

// Plays the user: once the next message box is up, `key` closes it.
void AnswerNextBox(Qt::Key key, QString* text = nullptr) {
    QTimer::singleShot(0, [key, text] {
        QMessageBox* box = nullptr;
        auto shown = [&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if ((box = qobject_cast<QMessageBox*>(w)) && box->isVisible()) return true;
            return false;
        };
        if (!WaitUntil(shown)) return;
        if (text) *text = box->text();
        QTest::keyClick(box, key);
    });
}

TEST(DialogsTest, ReturnAnswersYesEscapeNoAndTheLinesShow) {
    QtDialogs dialogs;
    QString text;
    AnswerNextBox(Qt::Key_Return, &text);
    EXPECT_EQ(dialogs.MsgBox("Allow RTS?\r\rYes or No", MsgButtons::YesNo, MsgIcon::Question, "RTS"), MsgResult::Yes);
    EXPECT_EQ(text, QStringLiteral("Allow RTS?\n\nYes or No"));
    AnswerNextBox(Qt::Key_Escape);
    EXPECT_EQ(dialogs.MsgBox("Again?", MsgButtons::YesNo, MsgIcon::Question, "RTS"), MsgResult::No);
}

// SIGTERM (logout) is sent to the built program by the end-to-end test.
TEST(TerminationRequestTest, ASignalRunsTheRequestOnceFromTheEventLoop) {
    int requests = 0;
    TerminationRequest request([&] { ++requests; });
    std::raise(SIGHUP);
    EXPECT_EQ(requests, 0);  // never inside the signal handler
    ASSERT_TRUE(WaitUntil([&] { return requests == 1; }, 1000));
    // A second request while the first is stuck (in a message box nobody can
    // answer) ends the running event loops instead of asking again.
    std::raise(SIGINT);
    QEventLoop stuck;
    QTimer::singleShot(2000, &stuck, [&] { stuck.exit(1); });
    EXPECT_EQ(stuck.exec(), 0);
    EXPECT_EQ(requests, 1);
}

}  // namespace
}  // namespace ovrin::qt
