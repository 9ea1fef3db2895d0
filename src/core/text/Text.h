#pragma once
// Text helpers shared by the handlers (blanks are 0x20 only, as the record uses).
#include <string>

namespace ovrin {

std::string Trim(const std::string& text);
std::string UpperCase(const std::string& text);  // ASCII letters only
bool EqualsIgnoreCase(const std::string& a, const std::string& b);

}  // namespace ovrin
