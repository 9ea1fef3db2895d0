// A step that fails is skipped and told: each kind once a minute, with how often it
// came meanwhile, so a facility failing at every poll is seen without a flood.
#include <gtest/gtest.h>

#include <stdexcept>

#include "model/StepFaults.h"
#include "sim/SimPlatform.h"

namespace ovrin {
namespace {

TEST(StepFaults, EachKindIsToldOnceAMinuteWithHowOftenItCame) {
    const struct {
        int64_t atMs;
        const char* what;  // nullptr: the step succeeds
        int lines;         // lines logged so far
        const char* told;  // in the last line
    } steps[] = {
        {0, "ioctl TIOCMBIS: Input/output error", 1, "A step failed and was skipped: ioctl TIOCMBIS"},
        {10, "ioctl TIOCMBIS: Input/output error", 1, ""},
        {20, nullptr, 1, ""},
        {30, "Invalid property value", 2, "Invalid property value"},
        {59'999, "ioctl TIOCMBIS: Input/output error", 2, ""},
        {60'000, "ioctl TIOCMBIS: Input/output error", 3, "(2 more times in the last minute)"},
    };
    sim::SimClock clock;
    sim::SimHost host;
    host.clock = &clock;
    sim::SimLog log;
    StepFaults faults(log, host);
    for (const auto& step : steps) {
        clock.Advance(step.atMs - clock.Now());
        const bool ran = TryStep(faults, [&] { if (step.what) throw PlatformError(step.what); });
        EXPECT_EQ(ran, step.what == nullptr);
        ASSERT_EQ(static_cast<int>(log.lines.size()), step.lines) << step.atMs;
        if (*step.told) {
            EXPECT_NE(log.lines.back().find(step.told), std::string::npos) << log.lines.back();
        }
    }
    // Kinds beyond the bound within a minute are not remembered: the log stays bounded.
    for (int i = 0; i < 100; ++i) TryStep(faults, [&] { throw PlatformError("kind " + std::to_string(i)); });
    EXPECT_LE(log.lines.size(), 3 + StepFaults::kMostKinds);
}

}  // namespace
}  // namespace ovrin
