#pragma once
// The window: one widget per control model, placed at its twips geometry (15 twips
// to the pixel). The models hold all state; the widgets mirror them through their
// Changed hooks and hand user actions back to them. Hidden models get widgets that
// are never shown.
#include <QWidget>
#include <map>
#include <vector>

#include "platform/Controls.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QStyle;

namespace ovrin::qt {

class StatusPictures;

class QtMainWindow final : public QWidget {
    Q_OBJECT
public:
    // The pictures must outlive the window.
    QtMainWindow(WindowModel model, const StatusPictures& pictures, QWidget* parent = nullptr);
    ~QtMainWindow() override;

    // The widget that shows a control (nullptr for one the window does not show).
    QWidget* WidgetFor(const Control& model) const;

    static QRect PixelsOf(const Geometry& g);
    // The face and pixel size the layout was drawn for; the window itself shows its
    // captions in it, or smaller where they would not fit.
    static QFont ApplicationFont();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Bind(ComboBox& model);
    void Bind(CheckBox& model);
    void Bind(TextBox& model);
    // A label and the caption it shows; a multi-line one is laid out by FitCaptions.
    struct CaptionView {
        const Label* model;
        QLabel* widget;
        QString caption;
        bool multiLine;
    };

    void Bind(Control& model);
    void Bind(Label& model, const QString& objectName);
    void MirrorCaption(CaptionView& view);
    // Fits every caption to its control (see ApplicationFont); again whenever one changes.
    void FitCaptions();
    void Bind(Image& model);
    void Place(Control& model, QWidget* widget);
    void MirrorForm();
    void SetTabOrder();

    Window& form_;
    const StatusPictures& pictures_;
    std::map<const Control*, QWidget*> widgets_;
    std::map<QObject*, TextBox*> textBoxes_;
    std::vector<Control*> bound_;
    QStyle* indicatorStyle_;
    std::vector<CaptionView> captions_;
    std::vector<QCheckBox*> checkBoxes_;  // those shown
    bool built_ = false;
};

}  // namespace ovrin::qt
