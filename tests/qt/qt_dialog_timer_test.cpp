// Message boxes and timers: the nested event loop of a box, and real-time ticks.
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

#include "QtTestSupport.h"
#include "app/frmMain.h"
#include "platform/FileHost.h"
#include "platform/qt/QtCommControl.h"
#include "platform/qt/QtDialogs.h"
#include "platform/qt/QtSocketArray.h"
#include "platform/qt/QtTimerBackend.h"

namespace ovrin::qt {
namespace {

using test::Drain;
using test::WaitUntil;

// Plays the user: once the next message box is up, `answer` looks at it and closes it.
void AnswerNextBox(std::function<void(QMessageBox&)> answer) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, answer] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        poll->stop();
        poll->deleteLater();
        answer(*box);
    });
    poll->start(2);
}

TEST(DialogsTest, AQuestionShowsItsLinesDefaultsToYesAndKeepsTheLoopRunning) {
    QtDialogs dialogs;
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(2);

    QString text, title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool yesIsDefault = false;
    AnswerNextBox([&](QMessageBox& box) {
        text = box.text();
        title = box.windowTitle();
        icon = box.icon();
        yesIsDefault = box.defaultButton() == box.button(QMessageBox::Yes);
        const int before = ticks;
        WaitUntil([&] { return ticks >= before + 3; }, 1000);  // timers tick while the box waits
        QTest::keyClick(&box, Qt::Key_Return);
    });
    EXPECT_EQ(dialogs.MsgBox("Allow Ovrin-Remote to control RTS?\r\rYes or No", MsgButtons::YesNo,
                             MsgIcon::Question, "RTS Control"),
              MsgResult::Yes);
    EXPECT_EQ(text, QStringLiteral("Allow Ovrin-Remote to control RTS?\n\nYes or No"));
    EXPECT_EQ(title, QStringLiteral("RTS Control"));
    EXPECT_EQ(icon, QMessageBox::Question);
    EXPECT_TRUE(yesIsDefault);
    EXPECT_GE(ticks, 3);

    AnswerNextBox([](QMessageBox& box) { box.button(QMessageBox::No)->click(); });
    EXPECT_EQ(dialogs.MsgBox("Again?", MsgButtons::YesNo, MsgIcon::Question, "Q"), MsgResult::No);
}

TEST(DialogsTest, AWarningHasOneOkButton) {
    QtDialogs dialogs;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = 0;
    AnswerNextBox([&](QMessageBox& box) {
        icon = box.icon();
        buttons = static_cast<int>(box.buttons().size());
        QTest::keyClick(&box, Qt::Key_Escape);
    });
    EXPECT_EQ(dialogs.MsgBox("Host Port 50000 is connected to another application.", MsgButtons::OK,
                             MsgIcon::Exclamation, "Host Port Active"),
              MsgResult::OK);
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_EQ(buttons, 1);
}

TEST(TimerTest, TicksOnlyWhileEnabledAndReArmingStartsAFullInterval) {
    Timer model("tmrTest", 10, false);
    int ticks = 0;
    model.Tick = [&] { ++ticks; };
    QtTimerBackend backend(model);
    model.Bind(&backend);
    Drain(30);
    EXPECT_EQ(ticks, 0);

    model.Start();
    EXPECT_TRUE(WaitUntil([&] { return ticks >= 3; }, 1000));
    model.Stop();
    const int stopped = ticks;
    Drain(30);
    EXPECT_EQ(ticks, stopped);

    // A new interval on a running timer begins a full count from now.
    model.SetInterval(80);
    model.Start();
    Drain(50);
    QElapsedTimer sinceReArm;
    sinceReArm.start();
    model.SetInterval(80);
    const int before = ticks;
    ASSERT_TRUE(WaitUntil([&] { return ticks > before; }, 1000));
    EXPECT_GE(sinceReArm.elapsed(), 75);
    model.Bind(nullptr);
}

TEST(TimerTest, TheWindowTimersRunUntilUnboundAndSurviveAThrowingHandler) {
    QTemporaryDir folder;
    FileHost host(folder.path().toStdString(), 1, 10, 1, [] {});
    QtCommControl com(folder.path().toStdString());
    QtSocketArray sockets;
    QtDialogs dialogs;
    frmMain f(com, sockets, dialogs, host);
    int pictures = 0, polls = 0;
    f.tmrPicture.SetInterval(5);
    f.tmrPicture.Tick = [&] { ++pictures; };
    f.tmrRx.SetInterval(5);
    f.tmrRx.Tick = [&] {
        ++polls;
        throw PlatformError("The device is not open");  // the event loop must carry on
    };
    {
        WindowTimers timers(f);
        EXPECT_TRUE(WaitUntil([&] { return pictures >= 2; }, 1000));  // running from the start
        EXPECT_EQ(polls, 0);
        f.tmrRx.Start();
        EXPECT_TRUE(WaitUntil([&] { return polls >= 2; }, 1000));
    }
    const int seen = pictures + polls;
    Drain(30);
    EXPECT_EQ(pictures + polls, seen);
    f.tmrRx.Stop();  // the models no longer reach the backends that are gone
    f.tmrRx.Start();
}

}  // namespace
}  // namespace ovrin::qt
