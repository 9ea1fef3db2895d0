#pragma once
#include <stdexcept>
#include <string>

#include "base/Bytes.h"

namespace ovrin {

// Every platform operation reports failure by throwing this, carrying the
// platform's own description (shown in the file messages).
class PlatformError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Listening failed because the port is taken (another program listens on it);
// every other listen failure is a plain PlatformError with the system's reason.
class PortInUseError : public PlatformError {
public:
    using PlatformError::PlatformError;
};

// The description controls give for a value they refuse.
inline constexpr const char* kInvalidPropertyValue = "Invalid property value";

// "A failing step is skipped and the next runs": run one step, swallow its failure.
template <typename Step>
bool TryStep(Step&& step) noexcept {
    try {
        step();
        return true;
    } catch (const PlatformError&) {
        return false;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace ovrin
