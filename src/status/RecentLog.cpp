#include "status/RecentLog.h"

namespace ovrin::status {

void RecentLog::Line(LogLevel level, const std::string& text) {
    out_.Line(level, text);
    const LogSeverity severity = level == LogLevel::Error     ? LogSeverity::Error
                                 : level == LogLevel::Warning ? LogSeverity::Warning
                                                              : LogSeverity::Info;
    std::string kept = text.size() > kLongestKept ? text.substr(0, kLongestKept) + "..." : text;
    kept_.push_back({clock_.WallClockMs(), severity, std::move(kept)});
    if (kept_.size() > kKept) kept_.pop_front();
}

}  // namespace ovrin::status
