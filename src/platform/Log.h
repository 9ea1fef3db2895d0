#pragma once
// The operator's record: one line per event worth reading afterwards (listening,
// clients, the serial port, PTT, the settings file). Never client or radio data.
#include <string>

namespace ovrin {

enum class LogLevel { Info, Warning, Error };

class Log {
public:
    virtual ~Log() = default;
    virtual void Line(LogLevel level, const std::string& text) = 0;
};

}  // namespace ovrin
