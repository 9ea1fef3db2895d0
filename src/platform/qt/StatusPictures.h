#pragma once
// The status pictures that imgConn shows, by key, and the window icon; drawn once
// at start-up. Keys: "initial", "wifi_off", "wifi_listen1".."wifi_listen4",
// "wifi_online1".."wifi_online4".
#include <QIcon>
#include <QPixmap>
#include <map>
#include <string>
#include <vector>

namespace ovrin::qt {

class StatusPictures {
public:
    static constexpr int kWidth = 224;
    static constexpr int kHeight = 62;

    StatusPictures();  // needs a QGuiApplication

    static std::vector<std::string> Keys();
    // An empty pixmap for a key it does not hold.
    const QPixmap& Picture(const std::string& key) const;
    const QIcon& WindowIcon() const { return icon_; }

private:
    std::map<std::string, QPixmap> pictures_;
    QPixmap none_;
    QIcon icon_;
};

}  // namespace ovrin::qt
