#pragma once
// The status picture's animation: "wifi_off" while nothing listens; while listening
// the four "wifi_listen" frames, and while serving those followed by the four
// "wifi_online" ones, faster.
#include <optional>
#include <string>

namespace ovrin {

class StatusAnimation {
public:
    // The picture for the next tick; nothing when the picture stays as it is.
    std::optional<std::string> Next(bool listening, bool serving) {
        if (!listening) return "wifi_off";
        std::optional<std::string> key;
        if (serving && frame_ >= 5 && frame_ <= 8) key = "wifi_online" + std::to_string(frame_ - 4);
        if (frame_ >= 1 && frame_ <= 4) key = "wifi_listen" + std::to_string(frame_);
        ++frame_;
        if (frame_ > (serving ? 8 : 4)) frame_ = 1;
        return key;
    }
    static int IntervalMs(bool serving) { return serving ? 75 : 500; }

private:
    int frame_ = 0;
};

}  // namespace ovrin
