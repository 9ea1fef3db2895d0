#include "text/Text.h"

namespace ovrin {

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

std::string UpperCase(const std::string& text) {
    std::string upper = text;
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return upper;
}

bool EqualsIgnoreCase(const std::string& a, const std::string& b) {
    return UpperCase(a) == UpperCase(b);
}

}  // namespace ovrin
