#pragma once
// "A failing step is skipped and the next runs", with the failure told: each kind
// of failure (the facility's own description) is logged once a minute, so a
// facility that fails at every poll is seen without a line at every poll, and
// none is swallowed unseen.
#include <cstdint>
#include <exception>
#include <map>
#include <string>

#include "platform/Host.h"
#include "platform/Log.h"

namespace ovrin {

class StepFaults {
public:
    static constexpr int64_t kQuietMs = 60'000;
    static constexpr std::size_t kMostKinds = 32;

    StepFaults(Log& log, const Host& clock) : log_(log), clock_(clock) {}

    // A step failed with this description and was skipped.
    void Caught(const std::string& what) noexcept;

private:
    Log& log_;
    const Host& clock_;
    // Each kind told, with when it was told and how often it came since.
    struct Told {
        int64_t atMs = 0;
        uint64_t since = 0;
    };
    std::map<std::string, Told> told_;
};

// Runs one step; a failure is told through `faults` and skipped.
template <typename Step>
bool TryStep(StepFaults& faults, Step&& step) noexcept {
    try {
        step();
        return true;
    } catch (const std::exception& e) {
        faults.Caught(e.what());
        return false;
    }
}

}  // namespace ovrin
