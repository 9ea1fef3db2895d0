#include "text/Numbers.h"

#include <cmath>
#include <cstdlib>
#include <limits>

#include "base/Errors.h"

namespace ovrin {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Parses sign, digits and fraction of the whole (blank-trimmed) text.
double WholeNumber(const std::string& text) {
    std::size_t b = text.find_first_not_of(" \t");
    std::size_t e = text.find_last_not_of(" \t");
    if (b == std::string::npos) throw PlatformError("Type mismatch");
    const std::string t = text.substr(b, e - b + 1);
    std::size_t i = 0;
    if (t[i] == '+' || t[i] == '-') ++i;
    std::size_t digits = 0;
    while (i < t.size() && IsDigit(t[i])) ++i, ++digits;
    if (i < t.size() && t[i] == '.') {
        ++i;
        while (i < t.size() && IsDigit(t[i])) ++i, ++digits;
    }
    if (digits == 0 || i != t.size()) throw PlatformError("Type mismatch");
    return std::strtod(t.c_str(), nullptr);
}

template <typename Int>
Int ToInteger(const std::string& text) {
    const double rounded = std::nearbyint(WholeNumber(text));  // default mode: half to even
    if (rounded < static_cast<double>(std::numeric_limits<Int>::min()) ||
        rounded > static_cast<double>(std::numeric_limits<Int>::max()))
        throw PlatformError("Overflow");
    return static_cast<Int>(rounded);
}

}  // namespace

int32_t ToInt32(const std::string& text) { return ToInteger<int32_t>(text); }
int16_t ToInt16(const std::string& text) { return ToInteger<int16_t>(text); }

double LeadingNumber(const std::string& text) {
    std::string t;
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') t += c;
    std::size_t i = 0;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < t.size() && IsDigit(t[i])) ++i, ++digits;
    if (i < t.size() && t[i] == '.') {
        ++i;
        while (i < t.size() && IsDigit(t[i])) ++i, ++digits;
    }
    if (digits == 0) return 0;
    std::size_t end = i;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < t.size() && (t[j] == '+' || t[j] == '-')) ++j;
        if (j < t.size() && IsDigit(t[j])) {
            while (j < t.size() && IsDigit(t[j])) ++j;
            end = j;
        }
    }
    const double value = std::strtod(t.substr(0, end).c_str(), nullptr);
    return value;  // may be infinite: still "too large"
}

std::optional<int> DigitsWithin(std::string_view text, int low, int high) {
    if (text.empty() || text.size() > 6) return std::nullopt;
    int n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + (c - '0');
    }
    if (n < low || n > high) return std::nullopt;
    return n;
}

}  // namespace ovrin
