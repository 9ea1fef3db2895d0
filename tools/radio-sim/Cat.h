#pragma once
// The radio the simulator pretends to be: a Kenwood-style CAT command set,
// kept as pure functions so the tests can drive it without a terminal.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ovrin::radiosim {

struct RadioState {
    std::uint64_t vfoA = 14'074'000;  // Hz; FT8 on 20 m, what most clients show first
    std::uint64_t vfoB = 14'074'000;
    char mode = '2';                  // USB
    char autoInfo = '0';
};

// The answer to one complete command (with its ';'), or "" for a command that
// only sets something. Anything not understood gets "?;", as the radios do.
std::string Answer(RadioState& radio, std::string_view command);

// Cuts the byte stream into commands. Commands may arrive split over several
// reads or several in one read. A run of bytes that grows past the limit
// without a ';' is line noise: it is dropped up to and including the next ';',
// so its tail is not mistaken for a command.
class CatParser {
public:
    explicit CatParser(std::size_t limit = 256) : limit_(limit) {}
    std::vector<std::string> Feed(std::string_view bytes);
    std::size_t Pending() const { return buffer_.size(); }
    bool Discarding() const { return discarding_; }

private:
    std::size_t limit_;
    std::string buffer_;
    bool discarding_ = false;
};

// Log text for one block, 16 bytes a line, each line ending in '\n':
// "12:00:00.000 <tag> 46 41 3B  |FA;|", bytes outside printable ASCII shown as '.'.
std::string FormatLog(std::string_view timestamp, std::string_view tag, std::string_view bytes);

}  // namespace ovrin::radiosim
