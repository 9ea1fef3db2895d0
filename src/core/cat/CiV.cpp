// Icom CI-V: frames FE FE <to> <from> <command...> FD, every one answered in a
// frame to its sender (the data, FB done, FA refused); frames to 00 are the
// radio's transceive reports.
#include "cat/Families.h"

namespace ovrin::cat {
namespace {

constexpr uint8_t kPreamble = 0xFE, kEndOfFrame = 0xFD, kNg = 0xFA;
constexpr uint8_t kPtt = 0x1C;
constexpr uint8_t kJammed = 0xFC;  // a collision: the frame being received is discarded

// The frame's addresses and command, past any extra preamble bytes.
struct Frame {
    uint8_t to = 0, from = 0;
    std::string_view body;  // command, sub-command and data
};
std::optional<Frame> FrameOf(std::string_view bytes) {
    std::size_t at = 0;
    while (at < bytes.size() && U(bytes[at]) == kPreamble) ++at;
    if (at < 2 || bytes.size() < at + 3 || U(bytes.back()) != kEndOfFrame) return std::nullopt;
    return Frame{U(bytes[at]), U(bytes[at + 1]), bytes.substr(at + 2, bytes.size() - at - 3)};
}

// Bytes before the next frame's start: never a command, never an answer.
std::size_t BeforeFrame(std::string_view held) {
    if (held.empty() || U(held[0]) == kPreamble) return 0;
    const auto next = held.find(static_cast<char>(kPreamble));
    return next == std::string_view::npos ? held.size() : next;
}

// The reads, by command, sub-command (-1: any or none) and the length of the body
// a read has; with more bytes the same command sets. From the IC-7300/IC-705/IC-9700
// CI-V references.
struct CivRead {
    uint8_t command;
    int sub;
    std::size_t length;
};
constexpr CivRead kCivReads[] = {
    {0x02, -1, 1},   {0x03, -1, 1},   {0x04, -1, 1},   {0x0F, -1, 1},   {0x10, -1, 1},   {0x11, -1, 1},
    {0x12, -1, 1},   {0x14, -1, 2},   {0x15, -1, 2},   {0x16, -1, 2},   {0x19, 0x00, 2}, {0x1A, 0x00, 4},
    {0x1A, 0x01, 4}, {0x1A, 0x03, 2}, {0x1A, 0x04, 2}, {0x1A, 0x05, 4}, {0x1A, 0x06, 2}, {0x1A, 0x07, 2},
    {0x1C, 0x00, 2}, {0x1C, 0x01, 2}, {0x1C, 0x03, 2}, {0x1E, 0x00, 2}, {0x1E, 0x01, 3}, {0x21, 0x00, 2},
    {0x21, 0x01, 2}, {0x21, 0x02, 2}, {0x25, -1, 2},  {0x26, -1, 2},
};
constexpr uint8_t kSendCw = 0x17;

// Frequencies are BCD, least significant byte first, two digits a byte.
std::optional<int64_t> Bcd(std::string_view bytes) {
    int64_t hz = 0;
    for (std::size_t i = bytes.size(); i-- > 0;) {
        const uint8_t b = U(bytes[i]);
        if ((b >> 4) > 9 || (b & 0x0F) > 9) return std::nullopt;
        hz = hz * 100 + (b >> 4) * 10 + (b & 0x0F);
    }
    return hz;
}

class CiV final : public Family {
public:
    Language Speaks() const override { return Language::CiV; }

    Seen Recognise(std::string_view b) const override {
        if (U(b[0]) != kPreamble) return Seen::NotMine;
        if (b.size() >= 2 && U(b[1]) != kPreamble) return Seen::Nothing;
        if (const auto end = b.find(static_cast<char>(kEndOfFrame)); end != std::string_view::npos)
            return end >= 5 ? Seen::Mine : Seen::Nothing;
        return b.size() > ClientReader::kRecogniseWithin ? Seen::Nothing : Seen::NotYet;
    }

    std::optional<Piece> NextCommand(std::string_view held) const override {
        if (const std::size_t loose = BeforeFrame(held)) return Piece{loose, true};
        const auto end = held.find(static_cast<char>(kEndOfFrame));
        if (end == std::string_view::npos) return std::nullopt;
        return Piece{end + 1, false};
    }

    Command CommandOf(Bytes bytes, Dialect) const override {
        Command c;
        c.bytes = std::move(bytes);
        const auto frame = FrameOf(c.bytes);
        if (!frame) return c;  // not a frame: passed on, nothing awaited
        // A frame to 00 is a broadcast: no radio answers it.
        if (frame->to != 0x00) c.answer = Answer{Answer::Kind::Sure, {}, frame->from, frame->to, 0};
        const std::string_view body = frame->body;
        if (body.size() >= 3 && U(body[0]) == kPtt && U(body[1]) == 0x00)
            c.keying = U(body[2]) == 0x01 ? Keying::Key : U(body[2]) == 0x00 ? Keying::Release : Keying::None;
        return c;
    }

    char Terminator() const override { return static_cast<char>(kEndOfFrame); }
    std::size_t LooseBefore(std::string_view held) const override { return BeforeFrame(held); }

    bool IsAnswerTo(const Answer& a, const Bytes& unit) const override {
        const auto frame = FrameOf(unit);
        return frame && frame->to == a.to && frame->from == a.from;
    }

    Effect EffectOf(const Command& c, Dialect) const override {
        const auto frame = FrameOf(c.bytes);
        // A broadcast is no question: nobody answers it.
        if (!frame || frame->to == 0x00 || frame->body.empty()) return Effect::Change;
        const std::string_view body = frame->body;
        if (c.keying == Keying::Key || U(body[0]) == kSendCw) return Effect::Transmits;
        if (body.size() >= 3 && U(body[0]) == kPtt && U(body[1]) == 0x01 && U(body[2]) == 0x02)
            return Effect::Transmits;  // the tuner's tune cycle
        for (const CivRead& r : kCivReads)
            if (U(body[0]) == r.command && body.size() == r.length && (r.sub < 0 || U(body[1]) == r.sub))
                return Effect::Read;
        return Effect::Change;
    }

    // The answer to 03 and the transceive report 00 (four bytes on the oldest radios).
    std::optional<int64_t> FrequencyReported(const Bytes& unit) const override {
        const auto frame = FrameOf(unit);
        if (!frame || frame->body.size() < 5 || frame->body.size() > 6) return std::nullopt;
        if (U(frame->body[0]) != 0x03 && U(frame->body[0]) != 0x00) return std::nullopt;
        return Bcd(frame->body.substr(1));
    }
    // 05 and 00 set the frequency in use, 25 00 the selected VFO's.
    std::optional<int64_t> FrequencySet(const Command& c) const override {
        const auto frame = FrameOf(c.bytes);
        if (!frame || frame->body.empty()) return std::nullopt;
        const std::string_view body = frame->body;
        if ((U(body[0]) == 0x05 || U(body[0]) == 0x00) && (body.size() == 5 || body.size() == 6)) return Bcd(body.substr(1));
        if (U(body[0]) == 0x25 && body.size() == 7 && U(body[1]) == 0x00) return Bcd(body.substr(2));
        return std::nullopt;
    }
    Command FrequencyRead(const Command& like) const override {
        const auto frame = FrameOf(like.bytes);
        if (!frame) return {};
        return CommandOf(Bytes{'\xFE', '\xFE', static_cast<char>(frame->to), static_cast<char>(frame->from), '\x03', '\xFD'},
                         Dialect::Unknown);
    }

    Bytes Release(const Command& key) const override {
        const auto frame = FrameOf(key.bytes);
        if (!frame) return {};
        return Bytes{'\xFE', '\xFE', static_cast<char>(frame->to), static_cast<char>(frame->from), '\x1C',
                     '\x00', '\x00', '\xFD'};
    }

    Bytes Refusal(const Command& key) const override {
        const auto frame = FrameOf(key.bytes);
        if (!frame) return {};
        return Bytes{'\xFE', '\xFE', static_cast<char>(frame->from), static_cast<char>(frame->to),
                     static_cast<char>(kNg), '\xFD'};
    }

    std::string Describe(const Command& command) const override {
        const auto frame = FrameOf(command.bytes);
        return "CI-V " + Hex(frame ? frame->body : std::string_view(command.bytes));
    }

    Bytes Unfinished(const Bytes& all) const override {
        const auto end = all.rfind(static_cast<char>(kEndOfFrame));
        const auto start = all.find(static_cast<char>(kPreamble), end == Bytes::npos ? 0 : end + 1);
        return start == Bytes::npos ? Bytes() : all.substr(start);
    }

    Command Termination(const Bytes&, Dialect) const override {
        Command c;
        c.bytes = Bytes(3, static_cast<char>(kJammed));  // discarded, unanswered
        return c;
    }
};

}  // namespace

const Family& CivFamily() {
    static const CiV family;
    return family;
}

}  // namespace ovrin::cat
