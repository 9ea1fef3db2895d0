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
#include <QPainter>
#include <QProxyStyle>
#include <QRegularExpression>
#include <QSignalBlocker>
#include <QStyle>
#include <QStylePainter>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionFrame>
#include <algorithm>
#include <functional>
#include <memory>
#include <utility>

#include "platform/qt/QtText.h"
#include "platform/qt/Shield.h"
#include "platform/qt/StatusPictures.h"
#include "platform/qt/XFrames.h"

namespace ovrin::qt {
namespace {

constexpr int kTwipsPerPixel = 15;
// The layout was drawn for an 8.25-point face at 96 dots per inch: 11 pixels. Sizes
// are in logical pixels, so the text grows with the desktop's scale factor exactly
// as the geometry does.
constexpr int kDesignPixels = 11;
constexpr int kSmallestPixels = 7;
// Qt hands out glyph boxes rounded out to whole pixels; ink reaching less than that
// past the room is rounding, not clipping.
constexpr qreal kInkRounding = 1;

// The status picture: it paints its own rectangle, background and all, so a new
// frame repaints nothing else and asks for no layout (as a QLabel's would), and
// it reports a click (press and release inside it). On an X display the frames
// are shown by the server (XFrames): a frame then paints nothing at all.
class PictureView final : public QWidget {
public:
    explicit PictureView(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAutoFillBackground(false);
    }
    std::function<void()> clicked;

    void SetPicture(const QPixmap& picture) {
        if (picture.cacheKey() == picture_.cacheKey()) return;
        picture_ = picture;
        if (frames_)
            ShowOnServer();
        else
            update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        Compose(painter);
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && clicked) clicked();
    }
    void showEvent(QShowEvent*) override {
        if (!frames_) frames_ = XFrames::Over(*this);
        if (!frames_) return;
        ShowOnServer();
        frames_->SetVisible(true);
    }
    void hideEvent(QHideEvent*) override {
        if (frames_) frames_->SetVisible(false);
    }
    void moveEvent(QMoveEvent*) override { Replace(); }
    void resizeEvent(QResizeEvent*) override { Replace(); }
    void changeEvent(QEvent* event) override {
        if (frames_ && event->type() == QEvent::PaletteChange) {
            frames_->Forget();
            ShowOnServer();
        }
        QWidget::changeEvent(event);
    }

private:
    void Compose(QPainter& painter) const {
        painter.fillRect(rect(), palette().window());
        painter.drawPixmap(QPoint(0, 0), picture_);
    }
    void ShowOnServer() {
        frames_->Show(picture_.cacheKey(), [this] {
            QImage frame(size(), QImage::Format_RGB32);
            QPainter painter(&frame);
            Compose(painter);
            return frame;
        });
    }
    void Replace() {
        if (!frames_) return;
        frames_->Place(QRect(mapTo(window(), QPoint(0, 0)), size()));
        ShowOnServer();
    }

    QPixmap picture_;
    std::unique_ptr<XFrames> frames_;
};

// Check boxes are one text line high; a style's indicator may be taller and would be
// cut off at the bottom. It shrinks to the box's height instead.
class FittedIndicatorStyle final : public QProxyStyle {
public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override {
        const int base = QProxyStyle::pixelMetric(metric, option, widget);
        if (metric != PM_IndicatorWidth && metric != PM_IndicatorHeight) return base;
        const int height = widget ? widget->height() : option ? option->rect.height() : base;
        return std::max(1, std::min(base, height));
    }
};

QColor ColourOf(uint32_t bgr) {
    return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                  static_cast<int>((bgr >> 16) & 0xFF));
}

// Whether the lines, drawn one under the other and centred on the room's height as
// labels and check boxes draw them, stay inside it: no line wider, no ink above or below.
bool Fits(const QFontMetricsF& m, const QStringList& lines, const QSizeF& room) {
    const qreal top = (room.height() - lines.size() * m.height()) / 2;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (m.horizontalAdvance(lines[i]) > room.width()) return false;
        const QRectF ink = m.tightBoundingRect(lines[i]);
        const qreal baseline = top + static_cast<qreal>(i) * m.height() + m.ascent();
        if (!ink.isEmpty() &&
            (baseline + ink.top() <= -kInkRounding || baseline + ink.bottom() >= room.height() + kInkRounding))
            return false;
    }
    return true;
}

// The lines of a caption taller than one line. Runs of blanks are the designed line
// breaks; a line too wide for the room wraps at its blanks (never inside a word such
// as "TCP/IP"), into lines as even as the count allows.
QStringList WrapCaption(const QString& caption, const QFontMetricsF& m, qreal width) {
    const auto greedy = [&m](const QStringList& words, qreal w) {
        QStringList lines;
        for (const QString& word : words) {
            if (!lines.isEmpty() && m.horizontalAdvance(lines.back() + QLatin1Char(' ') + word) <= w)
                lines.back() += QLatin1Char(' ') + word;
            else
                lines.push_back(word);
        }
        return lines;
    };
    QStringList all;
    static const QRegularExpression kBreak(QStringLiteral(" {2,}"));
    for (const QString& part : caption.split(kBreak, Qt::SkipEmptyParts)) {
        const QStringList words = part.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        QStringList lines = greedy(words, width);
        for (qreal narrower = width - 1; narrower > 0; narrower -= 1) {
            QStringList tried = greedy(words, narrower);
            if (tried.size() != lines.size()) break;
            lines = std::move(tried);
        }
        all += lines;
    }
    return all;
}

// The room a line edit has for its text: its contents less the margin Qt keeps each side.
qreal TextRoom(const QLineEdit* edit) {
    constexpr int kMargin = 2;
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.lineWidth = edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit) : 0;
    return edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit).width() - 2 * kMargin;
}

// A drop-down list (not editable): picked from, never typed into. It shows the
// text its model holds, which may be no entry of its list ("ON-LINE").
class ListOnlyBox final : public QComboBox {
public:
    using QComboBox::QComboBox;
    const QString& Shown() const { return shown_; }
    void SetShown(const QString& text) {
        if (text == shown_) return;
        shown_ = text;
        update();
    }
    // The room its text has beside the arrow, less the pixel the style keeps each side.
    qreal TextRoom() const {
        QStyleOptionComboBox option;
        initStyleOption(&option);
        return style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this).width() - 2;
    }

protected:
    // A letter would pick the entry it begins, as the wheel would (see eventFilter):
    // a key pressed by mistake must not change the connection status. The list
    // still opens from the keyboard (F4, Alt+Down, space) and is picked from there.
    void keyPressEvent(QKeyEvent* event) override {
        const QString text = event->text();
        if (!text.isEmpty() && text.at(0).isPrint() && text != QStringLiteral(" ")) {
            event->ignore();
            return;
        }
        QComboBox::keyPressEvent(event);
    }
    void paintEvent(QPaintEvent*) override {
        QStylePainter painter(this);
        painter.setPen(palette().color(QPalette::Text));
        QStyleOptionComboBox option;
        initStyleOption(&option);
        if (option.currentText != shown_) option.currentIcon = QIcon();
        option.currentText = shown_;
        painter.drawComplexControl(QStyle::CC_ComboBox, option);
        painter.drawControl(QStyle::CE_ComboBoxLabel, option);
    }

private:
    QString shown_;
};

// A field shows its whole text and every entry of its list: in the window's font,
// or smaller when they are too wide (a client's address, a typed name).
void FitField(QWidget* field) {
    auto* combo = qobject_cast<QComboBox*>(field);
    auto* list = dynamic_cast<ListOnlyBox*>(field);
    const QLineEdit* edit = combo ? combo->lineEdit() : qobject_cast<QLineEdit*>(field);
    if (!edit && !list) return;
    QStringList texts{list ? list->Shown() : edit->text()};
    for (int i = 0; combo && i < combo->count(); ++i) texts << combo->itemText(i);
    const qreal room = list ? list->TextRoom() : TextRoom(edit);
    const auto fits = [&](const QFont& font) {
        const QFontMetricsF metrics(font, field);
        return std::all_of(texts.begin(), texts.end(),
                           [&](const QString& t) { return metrics.horizontalAdvance(t) <= room; });
    };
    const QFont base = field->parentWidget()->font();
    QFont font = base;
    while (font.pixelSize() > kSmallestPixels && !fits(font)) font.setPixelSize(font.pixelSize() - 1);
    if (font == base) {
        if (field->testAttribute(Qt::WA_SetFont)) field->setFont(QFont());  // follow the window's again
    } else if (field->font() != font) {
        field->setFont(font);
    }
}

// The room a check box leaves its caption beside the indicator.
QSizeF CaptionRoom(const QCheckBox* box) {
    QStyleOptionButton option;
    option.initFrom(box);
    option.text = box->text();
    return box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box).size();
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
    if (auto* list = dynamic_cast<ListOnlyBox*>(w)) {
        if (w->currentIndex() != m.ListIndex()) w->setCurrentIndex(m.ListIndex());
        list->SetShown(ToQ(m.Text()));
        FitField(w);
        MirrorCommon(m, w);
        return;
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
    FitField(w);
    MirrorCommon(m, w);
}

// True when the caption changed (the window then fits its captions anew).
bool MirrorCheck(const CheckBox& m, QCheckBox* w) {
    const QSignalBlocker block(w);
    const QString caption = ToQ(m.caption);
    const bool newCaption = w->text() != caption;
    if (newCaption) w->setText(caption);
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
    return newCaption;
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
    FitField(w);
    MirrorCommon(m, w);
}

// The picture as the model ends a handler with it: a hide, change and show in one
// tick cost nothing on screen, and an unchanged frame is not painted again.
void MirrorImage(const Image& m, PictureView* w, const StatusPictures& pictures) {
    w->SetPicture(pictures.Picture(m.Picture()));
    if (w->isEnabled() != m.Enabled()) w->setEnabled(m.Enabled());
    const QString tip = ToQ(m.ToolTip());
    if (w->toolTip() != tip) w->setToolTip(tip);
    const bool visible = m.Visible() && !m.hidden;
    if (w->isVisibleTo(w->parentWidget()) != visible) w->setVisible(visible);
}

}  // namespace

QFont QtMainWindow::ApplicationFont() {
    // Sans faces as narrow as the one the layout was drawn with, where installed;
    // else the desktop's own face, made to fit (FitCaptions).
    static const char* const kFamilies[] = {"Microsoft Sans Serif", "Tahoma", "Arial", "Liberation Sans",
                                            "Nimbus Sans", "Helvetica"};
    QFont font = QApplication::font();
    for (const char* family : kFamilies) {
        if (QFontDatabase::hasFamily(QLatin1String(family))) {
            font.setFamily(QLatin1String(family));
            break;
        }
    }
    font.setPixelSize(kDesignPixels);
    return font;
}

QRect QtMainWindow::PixelsOf(const Geometry& g) {
    const auto px = [](int twips) { return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel; };
    return QRect(px(g.left), px(g.top), px(g.width), px(g.height));
}

QtMainWindow::QtMainWindow(WindowModel model, const StatusPictures& pictures, QWidget* parent)
    : QWidget(parent), form_(model.form), pictures_(pictures), indicatorStyle_(new FittedIndicatorStyle) {
    indicatorStyle_->setParent(this);
    setObjectName(QString::fromLatin1(form_.name.c_str()));
    setFixedSize(PixelsOf(form_.geometry).size());
    setWindowIcon(pictures.WindowIcon());

    for (Control* control : model.controls) Bind(*control);
    SetTabOrder();
    built_ = true;
    FitCaptions();

    form_.Changed = [this] { MirrorForm(); };
    MirrorForm();
}

// Each kind of control gets its own widget.
void QtMainWindow::Bind(Control& model) {
    if (auto* box = dynamic_cast<ComboBox*>(&model)) Bind(*box);
    else if (auto* check = dynamic_cast<CheckBox*>(&model)) Bind(*check);
    else if (auto* text = dynamic_cast<TextBox*>(&model)) Bind(*text);
    else if (auto* image = dynamic_cast<Image*>(&model)) Bind(*image);
    else if (auto* label = dynamic_cast<Label*>(&model))
        Bind(*label, model.index < 0 ? QString::fromLatin1(model.name.c_str())
                                     : QStringLiteral("%1(%2)").arg(QString::fromLatin1(model.name.c_str())).arg(model.index));
}

QtMainWindow::~QtMainWindow() {
    for (Control* model : bound_) model->Changed = nullptr;
    form_.Changed = nullptr;
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
    QComboBox* box = model.listOnly ? new ListOnlyBox(this) : new QComboBox(this);
    if (!model.listOnly) {
        box->setEditable(true);
        // Typing sets only the text: nothing is added to the list, nothing completed
        // or selected behind the user's back.
        box->setInsertPolicy(QComboBox::NoInsert);
        box->setCompleter(nullptr);
    }
    box->installEventFilter(this);
    Place(model, box);
    connect(box, &QComboBox::activated, this, [&model, box](int index) {
        Shielded(model.name.c_str(), [&] { model.SetListIndex(index); });
        MirrorCombo(model, box);
    });
    if (!model.listOnly) {
        connect(box->lineEdit(), &QLineEdit::textEdited, this, [&model, box](const QString& text) {
            Shielded(model.name.c_str(), [&] { model.UserEdit(FromQ(text)); });
            MirrorCombo(model, box);
        });
    }
    model.Changed = [&model, box] { MirrorCombo(model, box); };
    MirrorCombo(model, box);
}

void QtMainWindow::Bind(CheckBox& model) {
    auto* box = new QCheckBox(this);
    box->setStyle(indicatorStyle_);
    if (model.captionLeft) box->setLayoutDirection(Qt::RightToLeft);
    Place(model, box);
    if (!model.hidden) checkBoxes_.push_back(box);
    connect(box, &QCheckBox::clicked, this, [this, &model, box] {
        const int value = box->checkState() == Qt::Checked ? 1 : 0;
        Shielded(model.name.c_str(), [&] { model.SetValue(value); });
        if (MirrorCheck(model, box)) FitCaptions();  // the handler may have set it back
    });
    model.Changed = [this, &model, box] {
        if (MirrorCheck(model, box)) FitCaptions();
    };
    MirrorCheck(model, box);
}

void QtMainWindow::Bind(TextBox& model) {
    auto* edit = new QLineEdit(this);
    edit->installEventFilter(this);
    textBoxes_[edit] = &model;
    Place(model, edit);
    // Pasting with the mouse changes the text without a key; keep the model current.
    connect(edit, &QLineEdit::textEdited, this, [&model](const QString& text) {
        Shielded(model.name.c_str(), [&] { model.UserEdit(FromQ(text)); });
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
    // Centred on the height: the captions sit level with the text of their fields.
    label->setAlignment(horizontal | Qt::AlignVCenter);
    Place(model, label);
    // Captions are painted on the form beneath every control: "Com Port: " reaches
    // under the right end of cboConn's arrow and must not take its clicks.
    label->lower();
    // A caption taller than one line is laid out in lines by FitCaptions.
    captions_.push_back({&model, label, QString(), model.geometry.height >= 2 * 195});
    const std::size_t index = captions_.size() - 1;
    model.Changed = [this, index] { MirrorCaption(captions_[index]); };
    MirrorCaption(captions_[index]);
}

void QtMainWindow::MirrorCaption(CaptionView& view) {
    MirrorCommon(*view.model, view.widget);
    QString caption = ToQ(view.model->Caption());
    if (caption == view.caption) return;
    view.caption = caption;
    if (!view.multiLine) {
        // Trailing blanks are no ink: a right-aligned caption's last character sits at
        // the label's edge, and the gap to its field is the layout's.
        while (caption.endsWith(QLatin1Char(' '))) caption.chop(1);
        view.widget->setText(caption);
    }
    FitCaptions();
}

void QtMainWindow::FitCaptions() {
    if (!built_) return;
    // One face and size for every one-line caption: the largest, up to the drawn
    // size, at which each fits its control.
    const auto allFit = [this](const QFont& font) {
        const QFontMetricsF metrics(font, this);
        for (const CaptionView& view : captions_)
            if (!view.multiLine && !view.model->hidden &&
                !Fits(metrics, {view.widget->text()}, view.widget->contentsRect().size()))
                return false;
        for (const QCheckBox* box : checkBoxes_)
            if (!Fits(metrics, {box->text()}, CaptionRoom(box))) return false;
        return true;
    };
    QFont font = ApplicationFont();
    while (font.pixelSize() > kSmallestPixels && !allFit(font)) font.setPixelSize(font.pixelSize() - 1);
    if (this->font() != font) {
        setFont(font);
        for (const auto& [model, widget] : widgets_) FitField(widget);
    }

    // A caption of several lines (the banner) gets its own size: the largest at which
    // its lines fit, as few as the width allows.
    for (const CaptionView& view : captions_) {
        if (!view.multiLine) continue;
        QFont own = ApplicationFont();
        own.setBold(view.model->bold);
        const QSizeF room = view.widget->contentsRect().size();
        QStringList lines;
        for (;; own.setPixelSize(own.pixelSize() - 1)) {
            const QFontMetricsF metrics(own, this);
            lines = WrapCaption(view.caption, metrics, room.width());
            if (own.pixelSize() <= kSmallestPixels || Fits(metrics, lines, room)) break;
        }
        if (view.widget->font() != own) view.widget->setFont(own);
        view.widget->setText(lines.join(QLatin1Char('\n')));
    }
}

void QtMainWindow::Bind(Image& model) {
    auto* picture = new PictureView(this);
    picture->clicked = [&model] {
        Shielded(model.name.c_str(), [&] {
            if (model.Click) model.Click();
        });
    };
    Place(model, picture);
    const StatusPictures& pictures = pictures_;
    // Mirrored once the handler is done, whatever it changed on the way.
    auto waiting = std::make_shared<bool>(false);
    model.Changed = [&model, picture, &pictures, waiting] {
        if (std::exchange(*waiting, true)) return;
        AfterHandler([&model, picture, &pictures, waiting] {
            *waiting = false;
            MirrorImage(model, picture, pictures);
        });
    };
    MirrorImage(model, picture, pictures);
}

void QtMainWindow::MirrorForm() {
    const QString caption = ToQ(form_.Caption());
    if (windowTitle() != caption) setWindowTitle(caption);
    if (form_.Shown() && !isVisible()) show();
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
        if (form_.Unload) form_.Unload();
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
