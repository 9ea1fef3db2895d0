#pragma once
// Shared by the fuzz targets: reading an input as a stream of small values, and
// stopping the run loudly (abort) when a property fails, so that libFuzzer keeps
// the input and the corpus replay test fails.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace ovrin::fuzz {

// Bytes as C-style escapes, for the failure report.
inline std::string Escaped(const std::string& bytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += ch;
        } else {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        }
    }
    return out;
}

[[noreturn]] inline void Fail(const char* property, const std::string& detail) {
    std::fprintf(stderr, "property violated: %s\n  %s\n", property, detail.c_str());
    std::fflush(stderr);
    std::abort();
}

inline void Require(bool ok, const char* property, const std::string& detail = {}) {
    if (!ok) Fail(property, detail);
}

// A finding that is reported but not yet fixed can be let through by its name
// (OVRIN_FUZZ_ALLOW=name,name...), so that a long run goes on looking for new ones.
// The corpus replay never sets it.
inline bool Allowed(const std::string& finding) {
    const char* list = std::getenv("OVRIN_FUZZ_ALLOW");
    if (list == nullptr) return false;
    const std::string names = std::string(",") + list + ",";
    return names.find("," + finding + ",") != std::string::npos;
}

// Reads the input front to back; past the end every value is zero and every
// chunk is empty, so any input is a complete program.
class InputReader {
public:
    InputReader(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool AtEnd() const { return pos_ >= size_; }
    uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint16_t Word() {
        const uint16_t low = Byte();
        return static_cast<uint16_t>(low | Byte() << 8);
    }
    std::string Chunk(std::size_t length) {
        const std::size_t n = length < size_ - pos_ ? length : size_ - pos_;
        std::string chunk(reinterpret_cast<const char*>(data_ + pos_), n);
        pos_ += n;
        return chunk;
    }

private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

}  // namespace ovrin::fuzz
