#include "model/ClientLog.h"

namespace ovrin {

void ClientLog::Line(LogLevel level, const std::string& who, const std::string& text) { Write(level, who, text, 1); }

void ClientLog::Record(LogLevel level, const std::string& who, const std::string& text) {
    Write(level, who + "\n(record)", text, kRecordPerSecond);
}

void ClientLog::Write(LogLevel level, std::string key, const std::string& text, int perSecond) {
    const int64_t now = clock_.MonotonicMs();
    if (held_.size() >= kMaxKeys && !held_.count(key)) key = perSecond > 1 ? "\n(record)" : std::string();
    Held& h = held_[key];
    if (h.count == 0 && h.written > 0 && now - h.sinceMs >= kQuietMs) h.written = 0;
    if (h.count == 0 && h.written < perSecond) {
        out_.Line(level, text);
        if (h.written++ == 0) h.sinceMs = now;
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
        if (now - h.sinceMs < kQuietMs) {
            ++it;
        } else if (h.count > 0) {
            out_.Line(h.level, h.text + " (" + (h.count == 1 ? std::string("1 more line") : std::to_string(h.count) + " more lines") +
                                   " like it from this client in the last second not written)");
            // The summary fills this second: a line right after it waits its turn.
            h = Held{now, kRecordPerSecond, 0, {}, {}};
            ++it;
        } else {
            it = held_.erase(it);
        }
    }
    if (held_.empty()) timer_.Stop();
}

}  // namespace ovrin
