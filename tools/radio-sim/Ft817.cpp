// The FT-817's 5-byte commands, as hamlib's model 1020 uses them.
#include "Cat.h"

#include <algorithm>
#include <iterator>

namespace ovrin::radiosim {
namespace {

constexpr std::size_t kCommandBytes = 5;
constexpr char kAck = 0x00;

struct ModeCode {
    unsigned char code;
    RadioMode mode;
};
constexpr ModeCode kModes[] = {{0x00, RadioMode::Lsb}, {0x01, RadioMode::Usb}, {0x02, RadioMode::Cw},  {0x03, RadioMode::CwR},
                               {0x04, RadioMode::Am},  {0x06, RadioMode::Wfm}, {0x08, RadioMode::Fm},  {0x0A, RadioMode::Dig},
                               {0x0C, RadioMode::Pkt}};

char CodeOf(RadioMode mode) {
    for (const ModeCode& m : kModes)
        if (m.mode == mode) return static_cast<char>(m.code);
    return 0x01;
}

}  // namespace

std::vector<Exchange> Ft817Radio::Feed(std::string_view bytes) {
    // No end mark: every fifth byte completes a command, however the bytes arrive.
    std::vector<Exchange> exchanges;
    for (const char c : bytes) {
        buffer_ += c;
        if (buffer_.size() < kCommandBytes) continue;
        static const char* const kHex = "0123456789ABCDEF";
        const auto opcode = static_cast<unsigned char>(buffer_.back());
        Exchange exchange;
        exchange.name = {kHex[opcode >> 4], kHex[opcode & 0x0F]};
        exchange.answer = Answer(buffer_);
        exchange.ptt = state_.ptt;
        exchanges.push_back(std::move(exchange));
        buffer_.clear();
    }
    return exchanges;
}

std::string Ft817Radio::TurnKnob(std::uint64_t hz) {
    state_.vfo[0] = hz;
    return {};  // the FT-817 tells nothing unasked
}

std::string Ft817Radio::Answer(std::string_view command) {
    const auto opcode = static_cast<unsigned char>(command[4]);
    std::uint64_t& frequency = state_.vfo[state_.rx];
    switch (opcode) {
    case 0x01: {  // frequency, eight digits in tens of hertz
        std::uint64_t tens = 0;
        if (FromBcd(command.substr(0, 4), false, tens) && tens > 0) frequency = tens * 10;
        break;
    }
    case 0x03:  // frequency and mode
        return ToBcd(frequency / 10, 4, false) + CodeOf(state_.mode[state_.rx]);
    case 0x07: {
        const auto* m = std::find_if(std::begin(kModes), std::end(kModes), [&](const ModeCode& c) {
            return c.code == static_cast<unsigned char>(command[0]);
        });
        if (m != std::end(kModes)) state_.mode[state_.rx] = m->mode;
        break;
    }
    case 0x08:
        state_.ptt = true;
        break;
    case 0x88:
        state_.ptt = false;
        break;
    case 0x02:  // split on: transmit on the other VFO
        state_.tx = 1 - state_.rx;
        break;
    case 0x82:
        state_.tx = state_.rx;
        break;
    case 0x81:  // A/B toggle; split stays split
        state_.rx = 1 - state_.rx;
        state_.tx = 1 - state_.tx;
        break;
    case 0xE7:  // receive status: squelch open, S0
        return std::string(1, '\x00');
    case 0xF7:  // transmit status: bit 7 clear while keyed, bit 5 split; all ones in receive
        return std::string(1, state_.ptt ? static_cast<char>(state_.Split() ? 0x20 : 0x00) : '\xFF');
    case 0xBB: {  // EEPROM: the byte at the address and the one after it
        const unsigned address = static_cast<unsigned char>(command[0]) << 8 | static_cast<unsigned char>(command[1]);
        return {static_cast<char>(Eeprom(address)), static_cast<char>(Eeprom(address + 1))};
    }
    case 0xBD:  // transmit metering: power in the high nibble of the first byte
        return {static_cast<char>(state_.ptt ? 0xA0 : 0x00), '\x00'};
    default:
        break;
    }
    return std::string(1, kAck);
}

// The few places hamlib reads: 0x55 bit 0 the VFO (B when set), 0x7A bit 7 split.
std::uint8_t Ft817Radio::Eeprom(unsigned address) const {
    if (address == 0x55) return state_.rx == 1 ? 0x01 : 0x00;
    if (address == 0x7A) return state_.Split() ? 0x80 : 0x00;
    return 0x00;
}

}  // namespace ovrin::radiosim
