#include "line/LineSettings.h"

#include <charconv>
#include <vector>

namespace ovrin {
namespace {

std::vector<std::string> SplitFields(const std::string& text) {
    std::vector<std::string> fields(1);
    for (char c : text) {
        if (c == ',') fields.emplace_back();
        else fields.back() += c;
    }
    return fields;
}

std::optional<int> WholeNumber(const std::string& text) {
    int value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
    return value;
}

}  // namespace

std::optional<LineSettings> ParseLineSettings(const std::string& text) {
    const auto fields = SplitFields(text);
    if (fields.size() != 4) return std::nullopt;

    LineSettings s;
    const auto baud = WholeNumber(fields[0]);
    if (!baud || *baud < 50 || *baud > 4000000) return std::nullopt;
    s.baud = *baud;

    if (fields[1].size() != 1) return std::nullopt;
    const char p = static_cast<char>(fields[1][0] | 0x20);  // either case
    if (p != 'n' && p != 'e' && p != 'o' && p != 'm' && p != 's') return std::nullopt;
    s.parity = p;

    const auto bits = WholeNumber(fields[2]);
    if (!bits || *bits < 4 || *bits > 8) return std::nullopt;
    s.dataBits = *bits;

    if (fields[3] == "1") s.stopBitsX10 = 10;
    else if (fields[3] == "1.5") s.stopBitsX10 = 15;
    else if (fields[3] == "2") s.stopBitsX10 = 20;
    else return std::nullopt;
    return s;
}

std::string FormatLineSettings(const LineSettings& s) {
    const char* stop = s.stopBitsX10 == 15 ? "1.5" : s.stopBitsX10 == 20 ? "2" : "1";
    return std::to_string(s.baud) + "," + s.parity + "," + std::to_string(s.dataBits) + "," + stop;
}

int CharacterMicroseconds(const LineSettings& s) {
    const long bitsX10 = 10 + 10L * s.dataBits + (s.parity == 'n' ? 0 : 10) + s.stopBitsX10;
    const long baud = s.baud > 0 ? s.baud : 1;
    return static_cast<int>((bitsX10 * 100000 + baud - 1) / baud);
}

}  // namespace ovrin
