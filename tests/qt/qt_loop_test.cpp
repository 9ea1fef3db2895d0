// The window view over a real frmMain, with real widgets on the offscreen platform;
// its message boxes; a termination signal.
#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>

#include "QtTestSupport.h"
#include "app/frmMain.h"
#include "platform/FileHost.h"
#include "platform/qt/QtCommControl.h"
#include "platform/qt/QtDialogs.h"
#include "platform/qt/QtMainWindow.h"
#include "platform/qt/QtSocketArray.h"
#include "platform/qt/QtTimerBackend.h"
#include "platform/qt/StatusPictures.h"
#include "platform/qt/TerminationRequest.h"

namespace ovrin::qt {
namespace {

using test::WaitUntil;

struct WindowTest : ::testing::Test {
    QTemporaryDir folder;
    FileHost host{folder.path().toStdString(), 1, 10, 1, [] {}};
    QtCommControl com{folder.path().toStdString()};
    QtSocketArray sockets;
    QtDialogs dialogs;
    StderrLog log;
    frmMain f{com, sockets, dialogs, host, log};
    StatusPictures pictures;
    QtMainWindow window{f, pictures};

    template <typename W>
    W* Widget(const Control& model) { return qobject_cast<W*>(window.WidgetFor(model)); }
    // What a user does: open the list and choose an entry with the keyboard.
    void Pick(QComboBox* box, int row) {
        box->showPopup();
        QAbstractItemView* view = box->view();
        ASSERT_TRUE(WaitUntil([&] { return view->isVisible(); }));
        view->setCurrentIndex(view->model()->index(row, 0));
        QTest::keyClick(view, Qt::Key_Return);
        ASSERT_TRUE(WaitUntil([&] { return !view->isVisible(); }));
    }
};

// A pick clicks once, even of the same entry, and what its handler sets shows; a
// check box click reaches the model; typing reaches it key by key, the mirror
// keeping the cursor; a hidden control never shows.
TEST_F(WindowTest, WhatTheUserDoesReachesTheModelOnceAndTheModelShows) {
    f.Form.Show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    int clicks = 0;
    f.cboConn.Click = [&] {
        ++clicks;
        f.cboConn.SetText("ON-LINE");
    };
    auto* box = Widget<QComboBox>(f.cboConn);
    Pick(box, 1);
    Pick(box, 1);
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(box->currentText(), QStringLiteral("ON-LINE"));

    f.chkCtrlPTT.Click = [&] { ++clicks; };
    Widget<QCheckBox>(f.chkCtrlPTT)->click();
    EXPECT_EQ(f.chkCtrlPTT.Value(), 1);
    EXPECT_EQ(clicks, 3);

    auto* port = Widget<QLineEdit>(f.txtHostPort);
    std::vector<std::string> seen;
    f.txtHostPort.KeyUp = [&] { seen.push_back(f.txtHostPort.Text()); };
    port->selectAll();
    QTest::keyClicks(port, QStringLiteral("4000"));
    QTest::keyClick(port, Qt::Key_Home);
    QTest::keyClicks(port, QStringLiteral("1"));
    EXPECT_EQ(seen, (std::vector<std::string>{"4", "40", "400", "4000", "4000", "14000"}));

    f.cboInterbyte.SetVisible(true);  // hidden wins over the model's Visible
    EXPECT_FALSE(window.WidgetFor(f.cboInterbyte)->isVisible());
}

TEST_F(WindowTest, ATimerHandlerThatThrowsLeavesTheEventLoopRunning) {
    int polls = 0;
    f.tmrRx.SetInterval(5);
    f.tmrRx.Tick = [&] {
        ++polls;
        throw PlatformError("The device is not open");
    };
    WindowTimers timers(f);
    f.tmrRx.Start();
    EXPECT_TRUE(WaitUntil([&] { return polls >= 2; }, 1000));
}

// Plays the user: once the next message box is up, `key` closes it.
void AnswerNextBox(Qt::Key key, QString* text = nullptr) {
    QTimer::singleShot(0, [key, text] {
        QMessageBox* box = nullptr;
        if (!WaitUntil([&] { return (box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())); })) return;
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

TEST(TerminationRequestTest, ASignalRunsTheRequestOnceFromTheEventLoop) {
    int requests = 0;
    TerminationRequest request([&] { ++requests; });
    std::raise(SIGTERM);
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
