#pragma once
// The operator's log as it goes by, with its last lines kept for the status page:
// every line goes on to the log it wraps, unchanged.
#include <cstddef>
#include <deque>
#include <vector>

#include "platform/Host.h"
#include "platform/Log.h"
#include "status/StatusSnapshot.h"

namespace ovrin::status {

class RecentLog final : public Log {
public:
    static constexpr std::size_t kKept = 50;
    // A longer line is kept cut (the log itself gets it whole).
    static constexpr std::size_t kLongestKept = 400;

    RecentLog(Log& out, const Host& clock) : out_(out), clock_(clock) {}
    void Line(LogLevel level, const std::string& text) override;
    std::vector<LogLine> Lines() const { return {kept_.begin(), kept_.end()}; }

private:
    Log& out_;
    const Host& clock_;
    std::deque<LogLine> kept_;
};

}  // namespace ovrin::status
