#include "platform/qt/QtMainWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <QStyle>
#include <algorithm>
#include <functional>

#include "platform/qt/QtText.h"
#include "platform/qt/Shield.h"
#include "platform/qt/StatusPictures.h"

namespace ovrin::qt {
namespace {

constexpr int kTwipsPerPixel = 15;
constexpr qreal kFontPoints = 8.0;
constexpr qreal kSmallestFontPoints = 6.0;

// A label that reports a click (press and release inside it).
class ClickableLabel final : public QLabel {
public:
    using QLabel::QLabel;
    std::function<void()> clicked;

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        QLabel::mouseReleaseEvent(event);
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && clicked) clicked();
    }
};

QColor ColourOf(uint32_t bgr) {
    return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                  static_cast<int>((bgr >> 16) & 0xFF));
}

// A caption that is too wide for its control gets a slightly smaller font, so it is
// read in full rather than cut off. Wrapped captions need each word to fit.
void FitFont(QWidget* w, const QString& text, qreal available, bool wrapped, bool bold) {
    QFont font = w->parentWidget() ? w->parentWidget()->font() : QApplication::font();
    font.setBold(bold);
    const QStringList words = wrapped ? text.split(QLatin1Char(' '), Qt::SkipEmptyParts) : QStringList{text};
    const auto fits = [&](const QFont& f) {
        const QFontMetricsF metrics(f);
        for (const QString& word : words)
            if (metrics.horizontalAdvance(word) > available) return false;
        return true;
    };
    while (!fits(font) && font.pointSizeF() > kSmallestFontPoints) font.setPointSizeF(font.pointSizeF() - 0.5);
    if (w->font() != font) w->setFont(font);
}

void MirrorCommon(const Control& m, QWidget* w) {
    w->setEnabled(m.Enabled());
    const QString tip = ToQ(m.ToolTip());
    if (w->toolTip() != tip) w->setToolTip(tip);
    w->setVisible(m.Visible() && !m.hidden);
}

void MirrorCombo(const ComboBox& m, QComboBox* w) {
    const QSignalBlocker block(w);
    bool sameItems = w->count() == m.ListCount();
    for (int i = 0; sameItems && i < m.ListCount(); ++i) sameItems = w->itemText(i) == ToQ(m.List(i));
    if (!sameItems) {
        w->clear();
        for (int i = 0; i < m.ListCount(); ++i) w->addItem(ToQ(m.List(i)));
    }
    for (int i = 0; i < m.ListCount(); ++i) {
        const QString tip = ToQ(m.ItemToolTip(i));
        if (w->itemData(i, Qt::ToolTipRole).toString() != tip)
            w->setItemData(i, tip.isEmpty() ? QVariant() : QVariant(tip), Qt::ToolTipRole);
    }
    // The selection and the text are set separately: an editable box may show a
    // text that is no entry of its list. Keep the user's cursor where it was.
    QLineEdit* edit = w->lineEdit();
    const QString before = edit->text();
    const int cursor = edit->cursorPosition();
    if (w->currentIndex() != m.ListIndex()) w->setCurrentIndex(m.ListIndex());
    const QString text = ToQ(m.Text());
    if (edit->text() != text) edit->setText(text);
    if (text == before) edit->setCursorPosition(cursor);
    MirrorCommon(m, w);
}

void MirrorCheck(const CheckBox& m, QCheckBox* w) {
    const QSignalBlocker block(w);
    const QString caption = ToQ(m.caption);
    if (w->text() != caption) w->setText(caption);
    const QStyle* style = w->style();
    const int box = style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, w) +
                    style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, w);
    FitFont(w, caption, w->width() - box, false, false);
    w->setTristate(m.Value() == 2);
    const Qt::CheckState state = m.Value() == 1 ? Qt::Checked : m.Value() == 2 ? Qt::PartiallyChecked : Qt::Unchecked;
    if (w->checkState() != state) w->setCheckState(state);
    const uint32_t colour = m.BackColor();
    if (colour & 0x80000000u) {  // a system colour: the normal look
        w->setAutoFillBackground(false);
        w->setPalette(QPalette());
    } else {
        QPalette palette = w->palette();
        palette.setColor(w->backgroundRole(), ColourOf(colour));
        w->setPalette(palette);
        w->setAutoFillBackground(true);
    }
    MirrorCommon(m, w);
}

void MirrorText(const TextBox& m, QLineEdit* w) {
    const QSignalBlocker block(w);
    // Setting the limit sets the text anew, which drops the user's selection:
    // a Shift+Left would be undone by its own key release.
    const int maxLength = m.maxLength > 0 ? m.maxLength : 32767;
    if (w->maxLength() != maxLength) w->setMaxLength(maxLength);
    if (w->isReadOnly() != m.locked) w->setReadOnly(m.locked);
    const QString text = ToQ(m.Text());
    if (w->text() != text) w->setText(text);
    MirrorCommon(m, w);
}

void MirrorLabel(const Label& m, QLabel* w) {
    const QString caption = ToQ(m.Caption());
    if (w->text() != caption) w->setText(caption);
    FitFont(w, caption, w->width(), w->wordWrap(), m.bold);
    MirrorCommon(m, w);
}

void MirrorImage(const Image& m, QLabel* w, const StatusPictures& pictures) {
    w->setPixmap(pictures.Picture(m.Picture()));
    MirrorCommon(m, w);
    if (w->isVisible()) w->repaint();  // Refresh means now, not at the next idle moment
}

}  // namespace

QFont QtMainWindow::ApplicationFont() {
    // Sans faces as narrow as the one the layout was drawn with, where installed.
    static const char* const kFamilies[] = {"Microsoft Sans Serif", "Tahoma", "Arial", "Liberation Sans",
                                            "Nimbus Sans", "Helvetica"};
    QFont font = QApplication::font();
    for (const char* family : kFamilies) {
        if (QFontDatabase::hasFamily(QLatin1String(family))) {
            font.setFamily(QLatin1String(family));
            break;
        }
    }
    font.setPointSizeF(kFontPoints);
    return font;
}

QRect QtMainWindow::PixelsOf(const Geometry& g) {
    const auto px = [](int twips) { return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel; };
    return QRect(px(g.left), px(g.top), px(g.width), px(g.height));
}

QtMainWindow::QtMainWindow(frmMain& f, const StatusPictures& pictures, QWidget* parent)
    : QWidget(parent), f_(f), pictures_(pictures) {
    setObjectName(QString::fromLatin1(f.Form.name.c_str()));
    setFixedSize(PixelsOf(f.Form.geometry).size());
    setWindowIcon(pictures.WindowIcon());

    // Creation order decides which widget is on top where controls overlap.
    Bind(f.cboRmtAddress);
    Bind(f.chkBridge);
    Bind(f.chkCtrlPTT);
    Bind(f.chkComPortActiveInListen);
    Bind(f.chkDTR);
    Bind(f.chkRTS);
    Bind(f.cboParity);
    Bind(f.cboStop);
    Bind(f.cboInterbyte);
    Bind(f.cboConn);
    Bind(f.txtHostPort);
    Bind(f.txtHostAdrs);
    Bind(f.cboComPort);
    Bind(f.cboBaud);
    Bind(f.cboBits);
    Bind(f.txtHostName);
    Bind(f.lblRmtAddress, QStringLiteral("lblRmtAddress"));
    Bind(f.Label2, QStringLiteral("Label2"));
    Bind(f.imgConn);
    for (auto& [index, label] : f.Label1) Bind(label, QStringLiteral("Label1(%1)").arg(index));
    SetTabOrder();

    f.Form.Changed = [this] { MirrorForm(); };
    MirrorForm();
}

QtMainWindow::~QtMainWindow() {
    for (Control* model : bound_) model->Changed = nullptr;
    f_.Form.Changed = nullptr;
}

QWidget* QtMainWindow::WidgetFor(const Control& model) const {
    const auto found = widgets_.find(&model);
    return found == widgets_.end() ? nullptr : found->second;
}

void QtMainWindow::Place(Control& model, QWidget* widget) {
    if (widget->objectName().isEmpty()) widget->setObjectName(QString::fromLatin1(model.name.c_str()));
    widget->setGeometry(PixelsOf(model.geometry));
    widgets_[&model] = widget;
    bound_.push_back(&model);
}

void QtMainWindow::Bind(ComboBox& model) {
    auto* box = new QComboBox(this);
    box->setEditable(true);
    // Typing sets only the text: nothing is added to the list, nothing completed
    // or selected behind the user's back.
    box->setInsertPolicy(QComboBox::NoInsert);
    box->setCompleter(nullptr);
    box->installEventFilter(this);
    Place(model, box);
    connect(box, &QComboBox::activated, this, [&model, box](int index) {
        Shielded(model.name.c_str(), [&] { model.SetListIndex(index); });
        MirrorCombo(model, box);
    });
    connect(box->lineEdit(), &QLineEdit::textEdited, this, [&model, box](const QString& text) {
        Shielded(model.name.c_str(), [&] { model.SetText(FromQ(text)); });
        MirrorCombo(model, box);
    });
    model.Changed = [&model, box] { MirrorCombo(model, box); };
    MirrorCombo(model, box);
}

void QtMainWindow::Bind(CheckBox& model) {
    auto* box = new QCheckBox(this);
    if (model.captionLeft) box->setLayoutDirection(Qt::RightToLeft);
    Place(model, box);
    connect(box, &QCheckBox::clicked, this, [&model, box] {
        const int value = box->checkState() == Qt::Checked ? 1 : 0;
        Shielded(model.name.c_str(), [&] { model.SetValue(value); });
        MirrorCheck(model, box);  // the handler may have set it back
    });
    model.Changed = [&model, box] { MirrorCheck(model, box); };
    MirrorCheck(model, box);
}

void QtMainWindow::Bind(TextBox& model) {
    auto* edit = new QLineEdit(this);
    edit->installEventFilter(this);
    textBoxes_[edit] = &model;
    Place(model, edit);
    // Pasting with the mouse changes the text without a key; keep the model current.
    connect(edit, &QLineEdit::textEdited, this, [&model](const QString& text) {
        Shielded(model.name.c_str(), [&] { model.SetText(FromQ(text)); });
    });
    model.Changed = [&model, edit] { MirrorText(model, edit); };
    MirrorText(model, edit);
}

void QtMainWindow::Bind(Label& model, const QString& objectName) {
    auto* label = new QLabel(this);
    label->setObjectName(objectName);
    label->setTextFormat(Qt::PlainText);
    Qt::Alignment horizontal = Qt::AlignLeft;
    if (model.align == Label::Align::Right) horizontal = Qt::AlignRight;
    if (model.align == Label::Align::Centre) horizontal = Qt::AlignHCenter;
    label->setAlignment(horizontal | Qt::AlignTop);
    // A caption taller than one line wraps at its blanks.
    label->setWordWrap(model.geometry.height >= 2 * 195);
    Place(model, label);
    // Captions are painted on the form beneath every control: "Com Port: " reaches
    // under the right end of cboConn's arrow and must not take its clicks.
    label->lower();
    model.Changed = [&model, label] { MirrorLabel(model, label); };
    MirrorLabel(model, label);
}

void QtMainWindow::Bind(Image& model) {
    auto* picture = new ClickableLabel(this);
    picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    picture->clicked = [&model] {
        Shielded(model.name.c_str(), [&] {
            if (model.Click) model.Click();
        });
    };
    Place(model, picture);
    const StatusPictures& pictures = pictures_;
    model.Changed = [&model, picture, &pictures] { MirrorImage(model, picture, pictures); };
    MirrorImage(model, picture, pictures);
}

void QtMainWindow::MirrorForm() {
    const QString caption = ToQ(f_.Form.Caption());
    if (windowTitle() != caption) setWindowTitle(caption);
    if (f_.Form.Shown() && !isVisible()) show();
}

void QtMainWindow::SetTabOrder() {
    std::vector<std::pair<int, QWidget*>> order;
    for (const auto& [model, widget] : widgets_)
        if (model->tabIndex >= 0) order.emplace_back(model->tabIndex, widget);
    std::sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 1; i < order.size(); ++i) setTabOrder(order[i - 1].second, order[i].second);
}

void QtMainWindow::closeEvent(QCloseEvent* event) {
    Shielded("Form_Unload", [this] {
        if (f_.Form.Unload) f_.Form.Unload();
    });
    event->accept();
}

bool QtMainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyRelease) {
        const auto found = textBoxes_.find(watched);
        if (found != textBoxes_.end() && !static_cast<QKeyEvent*>(event)->isAutoRepeat()) {
            TextBox& model = *found->second;
            auto* edit = static_cast<QLineEdit*>(watched);
            Shielded(model.name.c_str(), [&] {
                model.SetText(FromQ(edit->text()));
                if (model.KeyUp) model.KeyUp();
            });
            MirrorText(model, edit);
        }
    }
    // A wheel turned over a combo box would change the connection status or a line
    // setting by accident; only deliberate picks count.
    if (event->type() == QEvent::Wheel && qobject_cast<QComboBox*>(watched)) return true;
    return QWidget::eventFilter(watched, event);
}

}  // namespace ovrin::qt
