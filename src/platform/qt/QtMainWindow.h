#pragma once
// The window: one widget per control model, placed at its twips geometry (15 twips
// to the pixel). The models hold all state; the widgets mirror them through their
// Changed hooks and hand user actions back to them. Hidden models get widgets that
// are never shown.
#include <QWidget>
#include <map>
#include <vector>

#include "app/frmMain.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

namespace ovrin::qt {

class StatusPictures;

class QtMainWindow final : public QWidget {
    Q_OBJECT
public:
    // The pictures must outlive the window.
    QtMainWindow(frmMain& f, const StatusPictures& pictures, QWidget* parent = nullptr);
    ~QtMainWindow() override;

    // The widget that shows a control (nullptr for one the window does not show).
    QWidget* WidgetFor(const Control& model) const;

    static QRect PixelsOf(const Geometry& g);
    // The small font the layout was drawn for; the program sets it application-wide.
    static QFont ApplicationFont();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Bind(ComboBox& model);
    void Bind(CheckBox& model);
    void Bind(TextBox& model);
    void Bind(Label& model, const QString& objectName);
    void Bind(Image& model);
    void Place(Control& model, QWidget* widget);
    void MirrorForm();
    void SetTabOrder();

    frmMain& f_;
    const StatusPictures& pictures_;
    std::map<const Control*, QWidget*> widgets_;
    std::map<QObject*, TextBox*> textBoxes_;
    std::vector<Control*> bound_;
};

}  // namespace ovrin::qt
