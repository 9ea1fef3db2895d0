// Every text the window shows fits its control, measured on a real X server with
// each common sans family as the only one installed, at each desktop scale factor.
// Without arguments it starts Xvfb and runs itself once per family and scale, with
// fontconfig restricted to that family; with --measure it builds the window there
// and measures every visible control. Exits 77 (skipped) when nothing could be run.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

#include "model/frmMain.h"
#include "platform/std/FileHost.h"
#include "platform/std/StderrLog.h"
#include "platform/qt/QtCommControl.h"
#include "platform/qt/QtDialogs.h"
#include "platform/qt/QtMainWindow.h"
#include "platform/qt/QtSocketArray.h"
#include "platform/qt/StatusPictures.h"

namespace {

using namespace ovrin;

struct Family {
    const char* name;
    const char* pattern;  // fontconfig: the family's upright faces, not a condensed cut
    const char* package;  // Debian's
};
const Family kFamilies[] = {
    {"DejaVu Sans", ":family=DejaVu Sans:width=100", "fonts-dejavu-core"},
    {"Liberation Sans", ":family=Liberation Sans", "fonts-liberation"},
    {"Noto Sans", ":family=Noto Sans", "fonts-noto-core"},
};
const char* const kScales[] = {"1", "1.25", "1.5", "2"};

int problems = 0;
void Problem(const QString& what) {
    std::printf("  %s\n", qPrintable(what));
    ++problems;
}

void ExpectNarrower(const QString& control, const QFontMetricsF& m, const QString& text, qreal room) {
    if (m.horizontalAdvance(text) > room)
        Problem(QStringLiteral("%1: \"%2\" is %3 px wide, the room %4 px")
                    .arg(control, text).arg(m.horizontalAdvance(text), 0, 'f', 1).arg(room));
}

// The lines' ink, drawn one under the other and centred on the height of `room` as
// Qt draws captions, lies inside it. Glyph boxes come rounded out to whole pixels:
// less than one pixel past the room is rounding.
void ExpectInside(const QString& control, const QFontMetricsF& m, const QStringList& lines, const QRectF& room) {
    const qreal top = room.top() + (room.height() - lines.size() * m.height()) / 2;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        ExpectNarrower(control, m, lines[i], room.width());
        const QRectF ink = m.tightBoundingRect(lines[i]).translated(0, top + i * m.height() + m.ascent());
        if (ink.top() <= room.top() - 1 || ink.bottom() >= room.top() + room.height() + 1)
            Problem(QStringLiteral("%1: \"%2\" is inked from y %3 to %4, the room from %5 to %6")
                        .arg(control, lines[i]).arg(ink.top()).arg(ink.bottom()).arg(room.top()).arg(room.bottom()));
    }
}

void MeasureCheckBox(const QString& name, const QCheckBox* box) {
    QStyleOptionButton option;
    option.initFrom(box);
    option.text = box->text();
    if (!box->rect().contains(box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box)))
        Problem(QStringLiteral("%1: the indicator reaches out of the box").arg(name));
    const QRect room = box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
    ExpectInside(name, QFontMetricsF(box->font(), box), {box->text()}, room);
}

// A line edit's text has its contents rectangle less the 2-pixel margin Qt keeps each side.
void MeasureEdit(const QString& name, const QLineEdit* edit, const QStringList& texts) {
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.lineWidth = edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit) : 0;
    const int room = edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit).width() - 4;
    for (const QString& text : texts) ExpectNarrower(name, QFontMetricsF(edit->font(), edit), text, room);
}

int Measure(int argc, char** argv, const QString& family) {
    QApplication app(argc, argv);
    QTemporaryDir folder;
    FileHost host(folder.path().toStdString(), 1, 10, 1, [] {});
    qt::QtCommControl com(folder.path().toStdString());
    qt::QtSocketArray sockets;
    qt::QtDialogs dialogs;
    StderrLog log;
    frmMain f(com, sockets, dialogs, host, log);
    const qt::StatusPictures pictures;
    qt::QtMainWindow window(f.View(), pictures);
    f.Form.Show();
    if (!QTest::qWaitForWindowExposed(&window)) Problem(QStringLiteral("the window was not shown"));

    // The widest texts the controls are made to show.
    f.lblRmtAddress.SetCaption("Rmt IP Adrs (5): ");
    f.cboConn.SetText("ON-LINE");
    for (int n : {1, 16, 20, 256}) f.cboComPort.AddItem("COM" + std::to_string(n), "/dev/null");
    f.cboRmtAddress.AddItem("255.255.255.255");
    f.txtHostAdrs.SetText("255.255.255.255");
    f.txtHostName.SetText("shack-computer1");  // as long as a Windows computer name can be
    f.txtHostPort.SetText("65535");
    QApplication::processEvents();

    const QFontInfo used(window.font());
    std::printf("  captions in %s, %d px\n", qPrintable(used.family()), used.pixelSize());
    if (used.family() != family) Problem(QStringLiteral("not measured in %1").arg(family));
    std::vector<std::pair<QString, Control*>> controls;
    for (auto& [name, control] : f.ControlsByName()) controls.emplace_back(QString::fromStdString(name), control);
    for (auto& [index, label] : f.Label1) controls.emplace_back(QStringLiteral("Label1(%1)").arg(index), &label);
    for (auto& [name, control] : controls) {
        QWidget* w = window.WidgetFor(*control);
        if (!w || !w->isVisible()) continue;
        auto* label = qobject_cast<QLabel*>(w);
        auto* box = qobject_cast<QCheckBox*>(w);
        if (label && !label->pixmap().isNull()) continue;  // the status picture
        // One face and size for the captions; the banner has a size of its own.
        if ((label || box) && !w->font().bold() && w->font() != window.font())
            Problem(QStringLiteral("%1: a font of its own").arg(name));
        if (label) {
            const QStringList lines = label->text().split(QLatin1Char('\n'));
            ExpectInside(name, QFontMetricsF(label->font(), label), lines, label->contentsRect());
        } else if (box) {
            MeasureCheckBox(name, box);
        } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
            QStringList texts{QString::fromStdString(static_cast<ComboBox*>(control)->Text())};
            for (int i = 0; i < combo->count(); ++i) texts << combo->itemText(i);
            if (combo->isEditable()) {
                MeasureEdit(name, combo->lineEdit(), texts);
            } else {  // a drop-down list: its text beside the arrow, less a pixel each side
                QStyleOptionComboBox option;
                option.initFrom(combo);
                const int room = combo->style()
                                     ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo)
                                     .width() - 2;
                for (const QString& text : texts) ExpectNarrower(name, QFontMetricsF(combo->font(), combo), text, room);
            }
        } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
            MeasureEdit(name, edit, {edit->text()});
        }
    }
    // The banner: its two designed lines, the second wrapped only where too wide.
    const QStringList banner = qobject_cast<QLabel*>(window.WidgetFor(f.Label2))->text().split(QLatin1Char('\n'));
    if (banner.value(0) != QStringLiteral("OVRIN-SERVER") ||
        banner.mid(1).join(QLatin1Char(' ')) != QStringLiteral("Com Port TCP/IP Server"))
        Problem(QStringLiteral("Label2 reads \"%1\"").arg(banner.join(QStringLiteral(" / "))));
    return problems == 0 ? 0 : 1;
}

int RunAll(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QProcess xvfb;
    xvfb.start(QStringLiteral("Xvfb"), QStringLiteral("-displayfd 1 -screen 0 1280x1024x24 -nolisten tcp").split(u' '));
    if (!xvfb.waitForStarted(5000)) {
        std::printf("SKIPPED: Xvfb cannot be started (Debian: xvfb)\n");
        return 77;
    }
    QString display;
    while (display.isEmpty() && xvfb.waitForReadyRead(15000)) display = QString::fromLatin1(xvfb.readLine()).trimmed();
    if (display.isEmpty()) {
        std::printf("SKIPPED: Xvfb gave no display: %s\n", xvfb.readAllStandardError().constData());
        return 77;
    }

    int ran = 0, failed = 0;
    for (const Family& family : kFamilies) {
        QProcess list;
        const QString pattern = QLatin1String(family.pattern);
        list.start(QStringLiteral("fc-list"), {QStringLiteral("-f"), QStringLiteral("%{file}\\n"), pattern});
        list.waitForFinished(10000);
        const QStringList files =
            QString::fromLocal8Bit(list.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        if (files.isEmpty()) {
            std::printf("SKIPPED: %s is not installed (Debian: %s)\n", family.name, family.package);
            continue;
        }
        // A font folder of links to this family's files, and a configuration naming
        // only it: whatever face the window asks for, it gets this one.
        const QString fonts = dir.filePath(QString::fromLatin1(family.name));
        QDir().mkpath(fonts);
        for (const QString& file : files) QFile::link(file, fonts + QLatin1Char('/') + QFileInfo(file).fileName());
        QFile config(fonts + QStringLiteral("/fonts.conf"));
        config.open(QIODevice::WriteOnly);
        config.write(QStringLiteral("<fontconfig><include ignore_missing=\"yes\">/etc/fonts/conf.d</include>"
                                    "<dir>%1</dir><cachedir>%1/cache</cachedir></fontconfig>\n").arg(fonts).toUtf8());
        config.close();
        for (const char* scale : kScales) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("DISPLAY"), QLatin1Char(':') + display);
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
            env.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::fromLatin1(scale));
            env.insert(QStringLiteral("FONTCONFIG_FILE"), config.fileName());
            env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
            QProcess child;
            child.setProcessEnvironment(env);
            child.setProcessChannelMode(QProcess::MergedChannels);
            const QString name = QLatin1String(family.name);
            child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--measure"), name});
            const bool ok = child.waitForFinished(60000) && child.exitStatus() == QProcess::NormalExit &&
                            child.exitCode() == 0;
            std::printf("%s %s at scale %s\n%s", ok ? "fits:" : "FAIL:", family.name, scale,
                        child.readAll().constData());
            ++ran;
            failed += ok ? 0 : 1;
        }
    }
    xvfb.terminate();
    xvfb.waitForFinished(5000);
    std::printf("%d of %d runs fit\n", ran - failed, ran);
    if (ran == 0) return 77;
    return failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && QByteArray(argv[1]) == "--measure") return Measure(argc, argv, QString::fromLocal8Bit(argv[2]));
    return RunAll(argc, argv);
}
