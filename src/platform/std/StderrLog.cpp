#include "platform/std/StderrLog.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace ovrin {
namespace {

const char* Priority(LogLevel level) {
    switch (level) {
        case LogLevel::Error: return "<3>";
        case LogLevel::Warning: return "<4>";
        case LogLevel::Info: break;
    }
    return "<6>";
}

const char* Word(LogLevel level) {
    switch (level) {
        case LogLevel::Error: return "error: ";
        case LogLevel::Warning: return "warning: ";
        case LogLevel::Info: break;
    }
    return "";
}

std::string LocalTime() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    return stamp;
}

}  // namespace

std::string StderrLog::Printable(const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c < 0x7F) {
            out += ch;
        } else if (c == '\r' || c == '\n') {
            // Message-box texts break lines with CR; the log keeps one line.
            if (!out.empty() && out.back() != ' ') out += ' ';
        } else {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        }
    }
    return out;
}

std::string StderrLog::Stamped(LogLevel level, const std::string& text) {
    return LocalTime() + " " + Word(level) + Printable(text);
}

void StderrLog::Line(LogLevel level, const std::string& text) {
    const std::string line = journal_ ? Priority(level) + Printable(text) : Stamped(level, text);
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

}  // namespace ovrin
