#include "model/ClientLog.h"

namespace ovrin {

void ClientLog::Line(LogLevel level, const std::string& who, const std::string& text) {
    const int64_t now = clock_.MonotonicMs();
    const std::string key = held_.size() >= kMaxKeys && !held_.count(who) ? std::string() : who;
    Held& h = held_[key];
    if (h.count == 0 && (h.lastMs == 0 || now - h.lastMs >= kQuietMs)) {
        out_.Line(level, text);
        h.lastMs = now;
        return;
    }
    ++h.count;
    h.level = level;
    h.text = text;
    timer_.Start();
}

void ClientLog::Flush() {
    const int64_t now = clock_.MonotonicMs();
    for (auto it = held_.begin(); it != held_.end();) {
        Held& h = it->second;
        if (now - h.lastMs < kQuietMs) {
            ++it;
        } else if (h.count > 0) {
            out_.Line(h.level, h.text + " (" + (h.count == 1 ? std::string("1 more line") : std::to_string(h.count) + " more lines") +
                                   " like it from this client in the last second not written)");
            h = Held{now, 0, {}, {}};
            ++it;
        } else {
            it = held_.erase(it);
        }
    }
    if (held_.empty()) timer_.Stop();
}

}  // namespace ovrin
