#include "model/StepFaults.h"

namespace ovrin {

void StepFaults::Caught(const std::string& what) noexcept {
    try {
        const int64_t now = clock_.MonotonicMs();
        auto found = told_.find(what);
        if (found != told_.end() && now - found->second.atMs < kQuietMs) {
            ++found->second.since;
            return;
        }
        const uint64_t since = found == told_.end() ? 0 : found->second.since;
        if (found == told_.end()) {
            if (told_.size() >= kMostKinds) std::erase_if(told_, [&](const auto& e) { return now - e.second.atMs >= kQuietMs; });
            if (told_.size() >= kMostKinds) return;  // many kinds at once: the first are told
            found = told_.emplace(what, Told{}).first;
        }
        found->second = {now, 0};
        log_.Line(LogLevel::Warning, "A step failed and was skipped: " + what +
                                         (since ? " (" + std::to_string(since) + " more times in the last minute)" : "") +
                                         " (logged once a minute)");
    } catch (...) {  // telling must never make a skipped step fatal
    }
}

}  // namespace ovrin
