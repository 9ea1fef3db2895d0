#pragma once
// The serial line settings text ("9600,n,8,2") that the serial facility accepts.
#include <optional>
#include <string>

namespace ovrin {

struct LineSettings {
    int baud = 9600;
    char parity = 'n';     // n, e, o, m (mark), s (space)
    int dataBits = 8;      // 4..8
    int stopBitsX10 = 10;  // 10, 15 or 20 (1, 1.5, 2)
};

// Empty fields, unknown letters and numbers out of range give nothing.
std::optional<LineSettings> ParseLineSettings(const std::string& text);

// The text for settings: "9600,n,8,1.5".
std::string FormatLineSettings(const LineSettings& s);

// The time one character takes on the line: a start bit, the data bits, the parity
// bit if any and the stop bits, in microseconds rounded up.
int CharacterMicroseconds(const LineSettings& s);

}  // namespace ovrin
