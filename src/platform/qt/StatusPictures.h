#pragma once
// The status pictures that imgConn shows, by key, and the window icon: the shared
// drawing (platform/shared/StatusShapes.h) painted once at start-up.
#include <QIcon>
#include <QPixmap>
#include <map>
#include <string>

namespace ovrin::qt {

class StatusPictures {
public:
    StatusPictures();  // needs a QGuiApplication

    // An empty pixmap for a key it does not hold.
    const QPixmap& Picture(const std::string& key) const;
    const QIcon& WindowIcon() const { return icon_; }

private:
    std::map<std::string, QPixmap> pictures_;
    QPixmap none_;
    QIcon icon_;
};

}  // namespace ovrin::qt
