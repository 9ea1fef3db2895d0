#include "Cat.h"

#include <cstdio>

namespace ovrin::radiosim {

std::unique_ptr<Radio> MakeRadio(const RadioSetup& setup) {
    std::unique_ptr<Radio> radio;
    switch (setup.family) {
    case Family::Civ:
        radio = std::make_unique<CivRadio>(setup.civAddress, setup.transceive);
        break;
    case Family::Ft817:
        return std::make_unique<Ft817Radio>();  // tunes in tens of hertz by its own commands
    case Family::Kenwood:
        radio = std::make_unique<KenwoodRadio>();
        break;
    }
    radio->SetStep(setup.stepHz);
    return radio;
}

std::string ToBcd(std::uint64_t value, std::size_t bytes, bool littleEndian) {
    std::string out(bytes, '\0');
    for (std::size_t i = 0; i < bytes; ++i) {
        const auto pair = static_cast<unsigned>(value % 100);
        value /= 100;
        out[littleEndian ? i : bytes - 1 - i] = static_cast<char>((pair / 10) << 4 | pair % 10);
    }
    return out;
}

bool FromBcd(std::string_view bytes, bool littleEndian, std::uint64_t& value) {
    std::uint64_t result = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[littleEndian ? bytes.size() - 1 - i : i]);
        if ((byte >> 4) > 9 || (byte & 0x0F) > 9) return false;
        result = result * 100 + (byte >> 4) * 10 + (byte & 0x0F);
    }
    value = result;
    return true;
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
