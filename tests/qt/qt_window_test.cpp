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

#include <QEventLoop>
#include <QTimer>

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

using test::Drain;
using test::WaitUntil;

class WindowTest : public ::testing::Test {
protected:
    WindowTest()
        : host_(folder_.path().toStdString(), 1, 10, 1, [] {}),
          com_(folder_.path().toStdString()),
          f_(com_, sockets_, dialogs_, host_, log_),
          window_(f_, pictures_) {
        f_.Form.Show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window_));
    }

    template <typename W = QWidget>
    W* Widget(const Control& model) {
        return qobject_cast<W*>(window_.WidgetFor(model));
    }

    // What a user does: open the list and choose an entry with the keyboard.
    void Pick(QComboBox* box, int row) {
        box->showPopup();
        QAbstractItemView* view = box->view();
        ASSERT_TRUE(WaitUntil([&] { return view->isVisible(); }));
        view->setCurrentIndex(view->model()->index(row, 0));
        QTest::keyClick(view, Qt::Key_Return);
        ASSERT_TRUE(WaitUntil([&] { return !view->isVisible(); }));
    }

    QTemporaryDir folder_;
    FileHost host_;
    QtCommControl com_;
    QtSocketArray sockets_;
    QtDialogs dialogs_;
    StderrLog log_;
    frmMain f_;
    StatusPictures pictures_;
    QtMainWindow window_;
};

TEST_F(WindowTest, ControlsSitAtTheirTwipsAndHiddenOnesNeverShow) {
    EXPECT_EQ(window_.size(), QSize(334, 218));
    std::vector<Control*> all;
    for (auto& [name, control] : f_.ControlsByName()) all.push_back(control);
    for (auto& [index, label] : f_.Label1) all.push_back(&label);
    for (Control* c : all) {
        QWidget* w = Widget(*c);
        ASSERT_NE(w, nullptr) << c->name;
        const Geometry& g = c->geometry;
        EXPECT_EQ(w->geometry(), QRect(g.left / 15, g.top / 15, g.width / 15, g.height / 15)) << c->name;
        EXPECT_EQ(w->isVisible(), !c->hidden) << c->name;
    }
    f_.cboInterbyte.SetVisible(true);  // hidden wins over the model's Visible
    EXPECT_FALSE(Widget(f_.cboInterbyte)->isVisible());
}

TEST_F(WindowTest, APickRaisesClickOnceAndModelChangesAreMirrored) {
    int clicks = 0;
    f_.cboConn.Click = [&] {
        ++clicks;
        f_.cboConn.SetText("ON-LINE");  // a handler changes the box inside the pick
    };
    auto* box = Widget<QComboBox>(f_.cboConn);
    Pick(box, 1);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(box->currentText(), QStringLiteral("ON-LINE"));
    f_.cboConn.Click = [&] { ++clicks; };
    Pick(box, 0);
    Pick(box, 0);  // the same entry again is another click
    EXPECT_EQ(clicks, 3);
    EXPECT_EQ(f_.cboConn.ListIndex(), 0);
    f_.cboConn.SetListIndex(2);  // by code: one Click, in the model
    EXPECT_EQ(clicks, 4);
    EXPECT_EQ(box->currentText(), QStringLiteral("Default"));

    auto* ports = Widget<QComboBox>(f_.cboComPort);
    f_.cboComPort.AddItem("COM1", "/dev/ttyS0");
    f_.cboComPort.SetText("COM9");
    EXPECT_EQ(ports->count(), 1);
    EXPECT_EQ(ports->currentText(), QStringLiteral("COM9"));
    f_.cboBaud.SetEnabled(false);
    EXPECT_FALSE(Widget(f_.cboBaud)->isEnabled());
    f_.txtHostName.SetText("radio-shack");
    EXPECT_EQ(Widget<QLineEdit>(f_.txtHostName)->text(), QStringLiteral("radio-shack"));
    f_.chkDTR.SetValue(2);
    EXPECT_EQ(Widget<QCheckBox>(f_.chkDTR)->checkState(), Qt::PartiallyChecked);
}

TEST_F(WindowTest, ACheckBoxClickGoesToTheModelAndItsHandlerHasTheLastWord) {
    auto* ptt = Widget<QCheckBox>(f_.chkCtrlPTT);
    int clicks = 0;
    f_.chkCtrlPTT.Click = [&] { ++clicks; };
    ptt->click();  // as a mouse click or the space bar does
    EXPECT_EQ(f_.chkCtrlPTT.Value(), 1);
    EXPECT_EQ(clicks, 1);

    auto* rts = Widget<QCheckBox>(f_.chkRTS);  // checked, its caption on the left
    f_.chkRTS.Click = [&] {
        if (f_.chkRTS.Value() == 0) f_.chkRTS.SetValue(1);  // the rules refuse to clear it
    };
    rts->click();
    EXPECT_TRUE(rts->isChecked());

    f_.chkCtrlPTT.SetBackColor(kColourRed);  // the keyed transmitter shows
    EXPECT_EQ(ptt->palette().color(ptt->backgroundRole()), QColor(255, 0, 0));
}

TEST_F(WindowTest, TypingReachesTheModelKeyByKeyAndKeepsTheCursor) {
    auto* port = Widget<QLineEdit>(f_.txtHostPort);
    std::vector<std::string> seen;
    f_.txtHostPort.KeyUp = [&] { seen.push_back(f_.txtHostPort.Text()); };
    port->selectAll();
    QTest::keyClicks(port, QStringLiteral("4000"));
    EXPECT_EQ(seen, (std::vector<std::string>{"4", "40", "400", "4000"}));
    QTest::keyClick(port, Qt::Key_Left, Qt::ShiftModifier);  // the mirror keeps the selection
    QTest::keyClicks(port, QStringLiteral("1"));
    EXPECT_EQ(f_.txtHostPort.Text(), "4001");

    auto* com = Widget<QComboBox>(f_.cboComPort)->lineEdit();
    int clicks = 0;
    f_.cboComPort.Click = [&] { ++clicks; };
    f_.cboComPort.AddItem("COM3", "/dev/ttyS2");
    com->selectAll();
    QTest::keyClicks(com, QStringLiteral("COM3"));
    QTest::keyClick(com, Qt::Key_Home);  // leaving the entry's text: the mirror keeps the cursor
    QTest::keyClicks(com, QStringLiteral("XY"));
    EXPECT_EQ(f_.cboComPort.Text(), "XYCOM3");
    EXPECT_EQ(clicks, 0);  // typing is no pick
}

TEST_F(WindowTest, ATimerHandlerThatThrowsLeavesTheEventLoopRunning) {
    int polls = 0;
    f_.tmrRx.SetInterval(5);
    f_.tmrRx.Tick = [&] {
        ++polls;
        throw PlatformError("The device is not open");  // the event loop must carry on
    };
    WindowTimers timers(f_);
    f_.tmrRx.Start();
    EXPECT_TRUE(WaitUntil([&] { return polls >= 2; }, 1000));
}

// Plays the user: once the next message box is up, `answer` closes it.
void AnswerNextBox(std::function<void(QMessageBox&)> answer) {
    QTimer::singleShot(0, [answer] {
        QMessageBox* box = nullptr;
        if (WaitUntil([&] { return (box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())); }))
            answer(*box);
    });
}

TEST(DialogsTest, ReturnAnswersYesEscapeNoAndTheLinesShow) {
    QtDialogs dialogs;
    QString text;
    AnswerNextBox([&](QMessageBox& box) {
        text = box.text();
        QTest::keyClick(&box, Qt::Key_Return);
    });
    EXPECT_EQ(dialogs.MsgBox("Allow RTS?\r\rYes or No", MsgButtons::YesNo, MsgIcon::Question, "RTS"), MsgResult::Yes);
    EXPECT_EQ(text, QStringLiteral("Allow RTS?\n\nYes or No"));
    AnswerNextBox([](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); });
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
