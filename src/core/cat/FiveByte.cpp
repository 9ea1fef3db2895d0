// The Yaesu 5-byte family (FT-817/857/897): four parameter bytes and an opcode; a
// fixed answer length per opcode, one acknowledgement byte for every other command.
#include "cat/Families.h"

namespace ovrin::cat {
namespace {

constexpr uint8_t kReadRxStatus = 0xE7;  // read the receiver's status, changing nothing
constexpr uint8_t kAlreadyKeyed = 0xF0;  // the acknowledgement of a key while transmitting

// The opcodes and their answers in bytes; every other known opcode is
// acknowledged with one byte.
struct Opcode {
    uint8_t code;
    std::size_t answer;
};
constexpr Opcode kOpcodes[] = {
    {0x00, 1}, {0x80, 1}, {0x08, 1}, {0x88, 1}, {0x01, 1}, {0x07, 1}, {0x05, 1}, {0x85, 1}, {0xF5, 1},
    {0x81, 1}, {0x02, 1}, {0x82, 1}, {0x09, 1}, {0xF9, 1}, {0x0A, 1}, {0x0B, 1}, {0x0C, 1}, {0x0F, 1},
    {0x8F, 1}, {0xBC, 1}, {0xBE, 1}, {0x03, 5}, {0xE7, 1}, {0xF7, 1}, {0xBB, 2}, {0xBD, 2}, {0xBA, 1},
};
const Opcode* FindOpcode(uint8_t code) {
    for (const Opcode& o : kOpcodes)
        if (o.code == code) return &o;
    return nullptr;
}

// The opcodes that only read: frequency and mode, receiver and transmitter status,
// EEPROM and the transmitter's meters.
constexpr uint8_t kReads[] = {0x03, 0xE7, 0xF7, 0xBB, 0xBD};
constexpr uint8_t kSetFrequency = 0x01, kReadFrequency = 0x03;

// Four BCD bytes, most significant first, in tens of Hz.
std::optional<int64_t> Bcd(std::string_view bytes) {
    int64_t tens = 0;
    for (char c : bytes.substr(0, 4)) {
        const uint8_t b = U(c);
        if ((b >> 4) > 9 || (b & 0x0F) > 9) return std::nullopt;
        tens = tens * 100 + (b >> 4) * 10 + (b & 0x0F);
    }
    return tens * 10;
}

class FiveByte final : public Family {
public:
    Language Speaks() const override { return Language::Yaesu5; }

    // Five bytes whose last is a known opcode.
    Seen Recognise(std::string_view b) const override {
        if (b.size() < 5) return Seen::NotYet;
        return FindOpcode(U(b[4])) ? Seen::Mine : Seen::Nothing;
    }

    std::optional<Piece> NextCommand(std::string_view held) const override {
        if (held.size() < 5) return std::nullopt;
        return Piece{5, false};
    }

    Command CommandOf(Bytes bytes, Dialect) const override {
        Command c;
        c.bytes = std::move(bytes);
        const uint8_t code = U(c.bytes[4]);
        const Opcode* known = FindOpcode(code);
        c.answer.kind = known ? Answer::Kind::Sure : Answer::Kind::Maybe;
        c.answer.length = known ? known->answer : 1;
        c.keying = code == 0x08 ? Keying::Key : code == 0x88 ? Keying::Release : Keying::None;
        return c;
    }

    // Answers are told apart by their lengths, in the order asked.
    char Terminator() const override { return 0; }
    bool IsAnswerTo(const Answer&, const Bytes&) const override { return false; }

    Effect EffectOf(const Command& c, Dialect) const override {
        if (c.bytes.size() != 5) return Effect::Change;
        if (c.keying == Keying::Key) return Effect::Transmits;
        for (uint8_t read : kReads)
            if (U(c.bytes[4]) == read) return Effect::Read;
        return Effect::Change;
    }
    // The answer to 03: the frequency, then the mode.
    std::optional<int64_t> FrequencyReported(const Bytes& unit) const override {
        return unit.size() == 5 ? Bcd(unit) : std::nullopt;
    }
    std::optional<int64_t> FrequencySet(const Command& c) const override {
        return c.bytes.size() == 5 && U(c.bytes[4]) == kSetFrequency ? Bcd(c.bytes) : std::nullopt;
    }
    Command FrequencyRead(const Command&) const override {
        return CommandOf(Bytes{'\0', '\0', '\0', '\0', static_cast<char>(kReadFrequency)}, Dialect::Unknown);
    }

    Bytes Release(const Command&) const override { return Bytes("\x00\x00\x00\x00\x88", 5); }

    // The radio acknowledges a key with 00, and with F0 when it is already
    // transmitting: as it is, by another client's key. A client waiting for the
    // acknowledgement gets it at once instead of retrying its key after a timeout,
    // when the owner may have released (hamlib takes a byte other than 00 as a
    // refusal).
    Bytes Refusal(const Command&) const override { return Bytes(1, static_cast<char>(kAlreadyKeyed)); }

    std::string Describe(const Command& command) const override { return "Yaesu " + Hex(command.bytes.substr(4, 1)); }

    Bytes Unfinished(const Bytes& all) const override { return all.substr(all.size() - all.size() % 5); }

    Command Termination(const Bytes& unfinished, Dialect) const override {
        Command c;
        c.bytes = Bytes(4 - unfinished.size() % 5, '\0') + static_cast<char>(kReadRxStatus);
        c.answer = Answer{Answer::Kind::Sure, {}, 0, 0, 1};
        return c;
    }
};

}  // namespace

const Family& FiveByteFamily() {
    static const FiveByte family;
    return family;
}

}  // namespace ovrin::cat
