// The window view over a real frmMain, with real widgets on the offscreen platform.
#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetricsF>
#include <QLabel>
#include <QLineEdit>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <set>

#include "QtTestSupport.h"
#include "app/frmMain.h"
#include "platform/FileHost.h"
#include "platform/qt/QtCommControl.h"
#include "platform/qt/QtDialogs.h"
#include "platform/qt/QtMainWindow.h"
#include "platform/qt/QtSocketArray.h"
#include "platform/qt/StatusPictures.h"

namespace ovrin::qt {
namespace {

using test::WaitUntil;

class WindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { QApplication::setFont(QtMainWindow::ApplicationFont()); }

    WindowTest()
        : host_(folder_.path().toStdString(), 1, 10, 1, [] {}),
          com_(folder_.path().toStdString()),
          f_(com_, sockets_, dialogs_, host_),
          window_(f_, pictures_) {}

    void Show() {
        f_.Form.Show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
    }

    template <typename W>
    W* Widget(const Control& model) {
        auto* w = qobject_cast<W*>(window_.WidgetFor(model));
        EXPECT_NE(w, nullptr) << model.name;
        return w;
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

    static void ClickBox(QCheckBox* box) {
        QStyleOptionButton option;
        option.initFrom(box);
        const QRect hit = box->style()->subElementRect(QStyle::SE_CheckBoxClickRect, &option, box);
        QTest::mouseClick(box, Qt::LeftButton, {}, hit.center());
    }

    QTemporaryDir folder_;
    FileHost host_;
    QtCommControl com_;
    QtSocketArray sockets_;
    QtDialogs dialogs_;
    frmMain f_;
    StatusPictures pictures_;
    QtMainWindow window_;
};

TEST_F(WindowTest, ControlsSitAtTheirTwipsAndHiddenOnesNeverShow) {
    EXPECT_FALSE(window_.isVisible());  // shown only through the model
    f_.Form.SetCaption("Ovrin-Server v1.10.01");
    Show();
    EXPECT_EQ(window_.windowTitle(), QStringLiteral("Ovrin-Server v1.10.01"));
    EXPECT_EQ(window_.size(), QSize(334, 218));
    EXPECT_FALSE(window_.windowIcon().isNull());

    std::vector<Control*> all;
    for (auto& [name, control] : f_.ControlsByName()) all.push_back(control);
    for (auto& [index, label] : f_.Label1) all.push_back(&label);
    for (Control* c : all) {
        QWidget* w = window_.WidgetFor(*c);
        ASSERT_NE(w, nullptr) << c->name;
        const Geometry& g = c->geometry;
        EXPECT_EQ(w->geometry(), QRect(g.left / 15, g.top / 15, g.width / 15, g.height / 15)) << c->name;
        EXPECT_EQ(w->isVisible(), !c->hidden) << c->name;
    }
    EXPECT_EQ(window_.WidgetFor(f_.cboConn)->geometry(), QRect(96, 70, 102, 21));
    EXPECT_FALSE(window_.WidgetFor(f_.chkBridge)->isVisible());
    EXPECT_FALSE(window_.WidgetFor(f_.cboInterbyte)->isVisible());
    EXPECT_FALSE(window_.WidgetFor(f_.Label1.at(102))->isVisible());

    f_.cboInterbyte.SetVisible(true);  // hidden wins over the model's Visible
    EXPECT_FALSE(window_.WidgetFor(f_.cboInterbyte)->isVisible());
    f_.cboConn.SetVisible(false);
    EXPECT_FALSE(window_.WidgetFor(f_.cboConn)->isVisible());
    f_.cboConn.SetVisible(true);
    EXPECT_TRUE(window_.WidgetFor(f_.cboConn)->isVisible());
}

TEST_F(WindowTest, CaptionsAreReadInFull) {
    Show();
    std::vector<Label*> labels{&f_.lblRmtAddress, &f_.Label2};
    for (auto& [index, label] : f_.Label1) labels.push_back(&label);
    for (Label* model : labels) {
        auto* label = Widget<QLabel>(*model);
        ASSERT_NE(label, nullptr);
        const QFontMetricsF metrics(label->font());
        const QStringList words = label->wordWrap()
                                      ? label->text().split(QLatin1Char(' '), Qt::SkipEmptyParts)
                                      : QStringList{label->text()};
        for (const QString& word : words)
            EXPECT_LE(metrics.horizontalAdvance(word), label->width()) << model->Caption();
        EXPECT_GE(label->font().pointSizeF(), 6.0);
    }
    EXPECT_TRUE(Widget<QLabel>(f_.Label2)->font().bold());
}

TEST_F(WindowTest, APickRaisesClickOnceAndTheHandlersChangesShow) {
    Show();
    int clicks = 0;
    f_.cboConn.Click = [&] {
        ++clicks;
        // A handler changes this and other controls from inside the pick.
        f_.txtHostName.SetText("radio-shack");
        f_.cboRmtAddress.AddItem("10.0.0.7");
        f_.cboConn.SetText("ON-LINE");
    };
    auto* box = Widget<QComboBox>(f_.cboConn);
    Pick(box, 1);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(f_.cboConn.ListIndex(), -1);  // the handler's text is no entry of the list
    EXPECT_EQ(box->currentText(), QStringLiteral("ON-LINE"));
    EXPECT_EQ(Widget<QLineEdit>(f_.txtHostName)->text(), QStringLiteral("radio-shack"));
    EXPECT_EQ(Widget<QComboBox>(f_.cboRmtAddress)->count(), 1);

    f_.cboConn.Click = [&] { ++clicks; };
    Pick(box, 0);
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(f_.cboConn.ListIndex(), 0);
    EXPECT_EQ(f_.cboConn.Text(), "Off-line");
    Pick(box, 0);  // the same entry again is another click
    EXPECT_EQ(clicks, 3);

    f_.cboConn.SetListIndex(2);  // a change by code raises Click in the model, once
    EXPECT_EQ(clicks, 4);
    EXPECT_EQ(box->currentIndex(), 2);
    EXPECT_EQ(box->currentText(), QStringLiteral("Default"));
}

TEST_F(WindowTest, TypingInAComboSetsItsTextWithoutAClick) {
    Show();
    int clicks = 0;
    f_.cboComPort.Click = [&] { ++clicks; };
    f_.cboComPort.AddItem("COM3", "/dev/ttyS2");
    auto* box = Widget<QComboBox>(f_.cboComPort);
    box->lineEdit()->selectAll();
    QTest::keyClicks(box->lineEdit(), QStringLiteral("com7"));
    EXPECT_EQ(f_.cboComPort.Text(), "com7");
    QTest::keyClick(box->lineEdit(), Qt::Key_Backspace);
    QTest::keyClicks(box->lineEdit(), QStringLiteral("3"));
    QTest::keyClick(box->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(f_.cboComPort.Text(), "com3");
    EXPECT_EQ(box->count(), 1);  // typed text is never added to the list
    box->lineEdit()->selectAll();
    QTest::keyClicks(box->lineEdit(), QStringLiteral("COM3"));
    QTest::keyClick(box->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(f_.cboComPort.ListIndex(), 0);  // the text reads as the entry
    // Editing inside the text leaves the cursor where the user put it.
    QTest::keyClick(box->lineEdit(), Qt::Key_Home);
    QTest::keyClicks(box->lineEdit(), QStringLiteral("XY"));
    EXPECT_EQ(f_.cboComPort.Text(), "XYCOM3");
    EXPECT_EQ(f_.cboComPort.ListIndex(), -1);
    EXPECT_EQ(clicks, 0);
}

TEST_F(WindowTest, ModelChangesAreMirrored) {
    Show();
    auto* ports = Widget<QComboBox>(f_.cboComPort);
    f_.cboComPort.AddItem("COM1", "/dev/ttyS0");
    f_.cboComPort.AddItem("COM20", "/dev/pts/4");
    ASSERT_EQ(ports->count(), 2);
    EXPECT_EQ(ports->itemData(1, Qt::ToolTipRole).toString(), QStringLiteral("/dev/pts/4"));
    EXPECT_EQ(ports->currentText(), QStringLiteral("COM1"));  // the text set before the list was filled
    f_.cboComPort.SetText("COM9");
    EXPECT_EQ(ports->currentText(), QStringLiteral("COM9"));
    EXPECT_EQ(ports->currentIndex(), -1);
    f_.cboComPort.Clear();
    EXPECT_EQ(ports->count(), 0);

    f_.cboBaud.SetEnabled(false);
    EXPECT_FALSE(Widget<QComboBox>(f_.cboBaud)->isEnabled());
    f_.lblRmtAddress.SetCaption("Rmt IP Adrs (2): ");
    EXPECT_EQ(Widget<QLabel>(f_.lblRmtAddress)->text(), QStringLiteral("Rmt IP Adrs (2): "));
    f_.chkDTR.SetValue(0);
    EXPECT_FALSE(Widget<QCheckBox>(f_.chkDTR)->isChecked());
    f_.chkDTR.SetValue(2);
    EXPECT_EQ(Widget<QCheckBox>(f_.chkDTR)->checkState(), Qt::PartiallyChecked);
    f_.Form.SetCaption("Ovrin-Server v2.05.03");
    EXPECT_EQ(window_.windowTitle(), QStringLiteral("Ovrin-Server v2.05.03"));
}

TEST_F(WindowTest, ACheckBoxClickGoesToTheModelAndItsHandlerHasTheLastWord) {
    Show();
    auto* ptt = Widget<QCheckBox>(f_.chkCtrlPTT);
    int clicks = 0;
    f_.chkCtrlPTT.Click = [&] { ++clicks; };
    ClickBox(ptt);
    EXPECT_EQ(f_.chkCtrlPTT.Value(), 1);
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(ptt->isChecked());

    auto* rts = Widget<QCheckBox>(f_.chkRTS);  // checked, caption on the left
    f_.chkRTS.Click = [&] {
        if (f_.chkRTS.Value() == 0) f_.chkRTS.SetValue(1);  // the rules refuse to clear it
    };
    ClickBox(rts);
    EXPECT_EQ(f_.chkRTS.Value(), 1);
    EXPECT_TRUE(rts->isChecked());

    f_.chkCtrlPTT.SetBackColor(kColourRed);
    EXPECT_TRUE(ptt->autoFillBackground());
    EXPECT_EQ(ptt->palette().color(ptt->backgroundRole()), QColor(255, 0, 0));
    f_.chkCtrlPTT.SetBackColor(kColourButtonFace);
    EXPECT_FALSE(ptt->autoFillBackground());
    EXPECT_NE(ptt->palette().color(ptt->backgroundRole()), QColor(255, 0, 0));
}

TEST_F(WindowTest, EachKeyReleaseInATextBoxReachesTheModel) {
    Show();
    auto* port = Widget<QLineEdit>(f_.txtHostPort);
    std::vector<std::string> seen;
    f_.txtHostPort.KeyUp = [&] { seen.push_back(f_.txtHostPort.Text()); };
    port->selectAll();
    QTest::keyClicks(port, QStringLiteral("4000"));
    EXPECT_EQ(seen, (std::vector<std::string>{"4", "40", "400", "4000"}));
    QTest::keyClicks(port, QStringLiteral("123"));  // at most five characters
    EXPECT_EQ(f_.txtHostPort.Text(), "40001");
    EXPECT_EQ(port->text(), QStringLiteral("40001"));

    // A handler that rewrites the text is shown at once.
    f_.txtHostPort.KeyUp = [&] { f_.txtHostPort.SetText("50000"); };
    QTest::keyClick(port, Qt::Key_Backspace);
    EXPECT_EQ(port->text(), QStringLiteral("50000"));

    EXPECT_TRUE(Widget<QLineEdit>(f_.txtHostName)->isReadOnly());
    EXPECT_TRUE(Widget<QLineEdit>(f_.txtHostAdrs)->isReadOnly());
    EXPECT_FALSE(port->isReadOnly());
}

TEST_F(WindowTest, TheStatusPictureShowsItsKeyAndReportsClicks) {
    Show();
    auto* image = Widget<QLabel>(f_.imgConn);
    EXPECT_EQ(image->pixmap().cacheKey(), pictures_.Picture("initial").cacheKey());
    f_.imgConn.SetPicture("wifi_online3");
    EXPECT_EQ(image->pixmap().cacheKey(), pictures_.Picture("wifi_online3").cacheKey());
    f_.imgConn.Refresh();

    int clicks = 0;
    f_.imgConn.Click = [&] { ++clicks; };
    QTest::mouseClick(image, Qt::LeftButton);
    EXPECT_EQ(clicks, 1);
}

TEST_F(WindowTest, ClosingTheWindowUnloadsTheFormOnce) {
    Show();
    int unloads = 0;
    f_.Form.Unload = [&] { ++unloads; };
    EXPECT_TRUE(window_.close());
    EXPECT_EQ(unloads, 1);
    EXPECT_FALSE(window_.isVisible());
}

TEST_F(WindowTest, TabFollowsTheTabIndexes) {
    Show();
    window_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
    Widget<QLineEdit>(f_.txtHostName)->setFocus();
    const std::vector<Control*> expected{&f_.txtHostName, &f_.txtHostAdrs, &f_.cboComPort, &f_.cboBaud,
                                         &f_.cboBits,     &f_.txtHostPort, &f_.cboConn,    &f_.cboStop,
                                         &f_.cboParity,   &f_.chkRTS,      &f_.chkDTR,     &f_.chkComPortActiveInListen,
                                         &f_.chkCtrlPTT,  &f_.cboRmtAddress};  // the hidden ones are skipped
    for (Control* c : expected) {
        QWidget* w = window_.WidgetFor(*c);
        QWidget* focus = QApplication::focusWidget();
        EXPECT_TRUE(focus == w || (focus && w->isAncestorOf(focus))) << c->name;
        QTest::keyClick(focus, Qt::Key_Tab);
    }
}

TEST(StatusPicturesTest, TenDistinctPicturesAndAnIcon) {
    const StatusPictures pictures;
    std::set<QByteArray> distinct;
    for (const std::string& key : StatusPictures::Keys()) {
        const QImage image = pictures.Picture(key).toImage();
        ASSERT_EQ(image.size(), QSize(224, 62)) << key;
        distinct.insert(QByteArray(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes()));
    }
    EXPECT_EQ(distinct.size(), 10u);
    EXPECT_TRUE(pictures.Picture("no such key").isNull());
    EXPECT_FALSE(pictures.WindowIcon().pixmap(32, 32).isNull());

    // The eye tells them apart by colour: red off, amber listening, green on-line.
    const auto count = [&](const std::string& key, auto isColour) {
        const QImage image = pictures.Picture(key).toImage().convertToFormat(QImage::Format_ARGB32);
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (qAlpha(image.pixel(x, y)) == 255 && isColour(QColor(image.pixel(x, y)))) ++n;
        return n;
    };
    const auto red = [](QColor c) { return c.red() > 160 && c.green() < 60 && c.blue() < 60; };
    const auto amber = [](QColor c) { return c.red() > 180 && c.green() > 120 && c.green() < 190 && c.blue() < 40; };
    const auto green = [](QColor c) { return c.green() > 150 && c.red() < 80 && c.blue() < 80; };
    EXPECT_GT(count("wifi_off", red), 100);
    EXPECT_EQ(count("wifi_off", green), 0);
    EXPECT_GT(count("wifi_listen2", amber), 100);
    EXPECT_EQ(count("wifi_listen2", green), 0);
    EXPECT_GT(count("wifi_online2", green), 1000);  // a filled caption, not an outline
    EXPECT_LT(count("wifi_listen1", amber), count("wifi_listen4", amber));
}

}  // namespace
}  // namespace ovrin::qt
