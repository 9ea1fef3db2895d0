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
