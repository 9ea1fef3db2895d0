#pragma once
// Number conversions of typed texts, as the handlers need them.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ovrin {

// The whole text as a number: blanks around it, an optional sign, digits and an
// optional fraction (rounded half to even). Throws PlatformError when the text is
// no number or the value does not fit.
int32_t ToInt32(const std::string& text);
int16_t ToInt16(const std::string& text);

// The value of the number a text begins with (sign, digits, fraction, exponent;
// blanks anywhere ignored); 0 when the text begins with no number.
double LeadingNumber(const std::string& text);

// An option's number: digits only (no sign, no blanks), within [low, high].
std::optional<int> DigitsWithin(std::string_view text, int low, int high);

}  // namespace ovrin
