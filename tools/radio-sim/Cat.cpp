#include "Cat.h"

#include <algorithm>
#include <cstdio>

namespace ovrin::radiosim {
namespace {

constexpr std::size_t kFrequencyDigits = 11;

bool AllDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string Frequency(std::uint64_t hz) {
    char text[24];
    std::snprintf(text, sizeof text, "%011llu", static_cast<unsigned long long>(hz));
    return text;
}

// FA; / FB; read a VFO, FA<11 digits>; / FB<11 digits>; set it.
std::string Vfo(std::string_view name, std::uint64_t& vfo, std::string_view argument) {
    if (argument.empty()) return std::string(name) + Frequency(vfo) + ";";
    if (argument.size() != kFrequencyDigits || !AllDigits(argument)) return "?;";
    vfo = std::stoull(std::string(argument));
    return {};
}

// A one-digit setting: read with "XX;", set with "XXn;" when n is in [low, high].
std::string Digit(std::string_view name, char& value, std::string_view argument, char low, char high) {
    if (argument.empty()) return std::string(name) + value + ";";
    if (argument.size() != 1 || argument[0] < low || argument[0] > high) return "?;";
    value = argument[0];
    return {};
}

// The TS-2000 status word: frequency, step, RIT/XIT, memory, TX/RX, mode,
// VFO, scan, split, tone; clients find the mode at offset 29.
std::string Information(const RadioState& radio) {
    std::string s = "IF" + Frequency(radio.vfoA) + "     " + "+0000" + "0" + "0" + "000" + "0";
    s += radio.mode;
    s += "0000000;";
    return s;
}

}  // namespace

std::string Answer(RadioState& radio, std::string_view command) {
    if (command.size() < 3 || command.back() != ';') return "?;";
    const std::string_view name = command.substr(0, 2);
    const std::string_view argument = command.substr(2, command.size() - 3);
    if (name == "FA") return Vfo(name, radio.vfoA, argument);
    if (name == "FB") return Vfo(name, radio.vfoB, argument);
    if (name == "MD") return Digit(name, radio.mode, argument, '1', '9');
    if (name == "AI") return Digit(name, radio.autoInfo, argument, '0', '2');
    if (name == "ID" && argument.empty()) return "ID019;";
    if (name == "PS" && argument.empty()) return "PS1;";
    if (name == "IF" && argument.empty()) return Information(radio);
    return "?;";
}

std::vector<std::string> CatParser::Feed(std::string_view bytes) {
    std::vector<std::string> commands;
    for (const char c : bytes) {
        if (discarding_) {
            if (c == ';') discarding_ = false;
            continue;
        }
        // Line ends, padding and stray control bytes between commands are not part of one.
        if (buffer_.empty() && static_cast<unsigned char>(c) <= ' ') continue;
        buffer_ += c;
        if (c == ';') {
            commands.push_back(std::move(buffer_));
            buffer_.clear();
        } else if (buffer_.size() >= limit_) {
            buffer_.clear();
            discarding_ = true;
        }
    }
    return commands;
}

std::string FormatLog(std::string_view timestamp, std::string_view tag, std::string_view bytes) {
    constexpr std::size_t kPerLine = 16;
    std::string out;
    for (std::size_t start = 0; start < bytes.size(); start += kPerLine) {
        const std::string_view chunk = bytes.substr(start, kPerLine);
        out += timestamp;
        out += ' ';
        out += tag;
        char hex[4];
        for (const char c : chunk) {
            std::snprintf(hex, sizeof hex, " %02X", static_cast<unsigned char>(c));
            out += hex;
        }
        out.append((kPerLine - chunk.size()) * 3 + 2, ' ');
        out += '|';
        for (const char c : chunk) out += (c >= 0x20 && c < 0x7F) ? c : '.';
        out += "|\n";
    }
    return out;
}

}  // namespace ovrin::radiosim
