#include "cat/Cat.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

namespace ovrin::cat {
namespace {

constexpr uint8_t kPreamble = 0xFE, kEndOfFrame = 0xFD, kNg = 0xFA;
constexpr uint8_t kCivPtt = 0x1C;
constexpr uint8_t kJammed = 0xFC;        // CI-V: a collision; the frame being received is discarded
constexpr uint8_t kReadRxStatus = 0xE7;  // 5-byte: read the receiver's status, changing nothing
constexpr uint8_t kAlreadyKeyed = 0xF0;  // 5-byte: the acknowledgement of a key while transmitting

uint8_t U(char c) { return static_cast<uint8_t>(c); }
bool Letter(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool Printable(uint8_t c) { return c >= 0x20 && c <= 0x7E; }

// Kenwood-language commands whose read carries a selector, or that never answer.
// The read of a command is the command with at most `selector` characters of
// parameters; more make it a set. kSetOnly: nothing comes back whatever follows.
// kAbsent: the dialect has no such command.
constexpr int kSetOnly = -1, kAbsent = -2;
struct TextCommand {
    const char* name;
    int kenwood, yaesu;
};
// From the Kenwood TS-2000/TS-590/TS-480, Elecraft K3 and Yaesu FT-991/FTDX101
// command references. A command not listed here is placed by the answer wait.
constexpr TextCommand kTextCommands[] = {
    {"AC", 0, 0}, {"AG", 1, 1},  {"AI", 0, 0},  {"AN", 0, 1},  {"BC", 0, 0},  {"BD", kSetOnly, kSetOnly},
    {"BP", 0, 2}, {"BU", kSetOnly, kSetOnly}, {"BY", 0, 0},  {"CA", 0, 0},  {"CN", 0, 0},  {"CT", 0, 0},
    {"DN", kSetOnly, kSetOnly}, {"EX", 7, 3}, {"FA", 0, 0},  {"FB", 0, 0},  {"FC", 0, 0},  {"FR", 0, 0},
    {"FS", 0, 0}, {"FT", 0, 0},  {"FW", 0, 0},  {"GT", 0, 0},  {"ID", 0, 0},  {"IF", 0, 0},  {"IS", 0, 1},
    {"KS", 0, 0}, {"KY", 0, 0},  {"LK", 0, 0},  {"MC", 0, 0},  {"MD", 0, 1},  {"MG", 0, 0},  {"ML", 0, 0},
    {"MR", 4, 4}, {"NB", 0, 1},  {"NL", 0, 1},  {"NR", 0, 1},  {"NT", 0, 0},  {"OI", kAbsent, 0},
    {"OS", 0, 0}, {"PA", 0, 1},  {"PC", 0, 0},  {"PL", 0, 0},  {"PR", 0, 1},  {"PS", 0, 0},  {"QI", kSetOnly, kSetOnly},
    {"RA", 0, 1}, {"RC", kSetOnly, kSetOnly}, {"RD", kSetOnly, kSetOnly}, {"RG", 0, 1}, {"RL", 0, 1},
    {"RM", 0, 1}, {"RT", 0, 0},  {"RU", kSetOnly, kSetOnly}, {"RX", kSetOnly, kSetOnly}, {"SA", 0, 0},
    {"SC", 0, 0}, {"SD", 0, 0},  {"SH", 0, 1},  {"SL", 0, 1},  {"SM", 1, 1},  {"SQ", 1, 1},  {"SR", kSetOnly, kSetOnly},
    {"ST", 0, 0}, {"SV", kSetOnly, kSetOnly}, {"TN", 0, 0}, {"TO", 0, 0}, {"TS", 0, 0}, {"TX", kSetOnly, 0},
    {"TY", 0, 0}, {"UL", 0, 0},  {"UP", kSetOnly, kSetOnly}, {"VD", 0, 0}, {"VG", 0, 0}, {"VS", 0, 0},
    {"VV", kSetOnly, kSetOnly}, {"VX", 0, 0}, {"XT", 0, 0},
};

const TextCommand* FindText(const std::string& name) {
    std::string upper = name.substr(0, 2);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    for (const TextCommand& c : kTextCommands)
        if (upper == c.name) return &c;
    return nullptr;
}

Answer::Kind KindFor(int selector, std::size_t parameters) {
    if (selector == kSetOnly) return Answer::Kind::None;
    if (selector == kAbsent) return Answer::Kind::Maybe;
    return parameters <= static_cast<std::size_t>(selector) ? Answer::Kind::Sure : Answer::Kind::None;
}

Command TextCommandOf(Bytes bytes, Dialect dialect) {
    Command c;
    c.bytes = std::move(bytes);
    const std::string body = c.bytes.substr(0, c.bytes.size() - 1);  // without the ';'
    const std::size_t nameLength = body.size() >= 3 && body[2] == '$' ? 3 : std::min<std::size_t>(2, body.size());
    c.name = body.substr(0, nameLength);
    c.parameters = body.substr(nameLength);
    // A bare ";" gets at most an error answer: no answer starts with ';'.
    c.answer.prefix = c.name.empty() ? ";" : c.name;
    const TextCommand* known = FindText(c.name);
    if (!known) {
        c.answer.kind = Answer::Kind::Maybe;
    } else {
        const Answer::Kind kenwood = KindFor(known->kenwood, c.parameters.size());
        const Answer::Kind yaesu = KindFor(known->yaesu, c.parameters.size());
        c.answer.kind = dialect == Dialect::Kenwood ? kenwood
                        : dialect == Dialect::Yaesu ? yaesu
                        : kenwood == yaesu          ? kenwood
                                                    : Answer::Kind::Maybe;
    }
    if (c.name == "TX" || c.name == "tx") {
        // Kenwood keys with TX; and TXn;. The newer Yaesu read TX; and release with TX0;.
        if (dialect != Dialect::Yaesu) c.keying = Keying::Key;
        else if (!c.parameters.empty()) c.keying = c.parameters == "0" ? Keying::Release : Keying::Key;
    } else if (c.name == "RX" || c.name == "rx") {
        c.keying = Keying::Release;
    }
    return c;
}

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

Command FrameCommandOf(Bytes bytes) {
    Command c;
    c.bytes = std::move(bytes);
    const auto frame = FrameOf(c.bytes);
    if (!frame) return c;  // not a frame: passed on, nothing awaited
    // A frame to 00 is a broadcast: no radio answers it.
    if (frame->to != 0x00) c.answer = Answer{Answer::Kind::Sure, {}, frame->from, frame->to, 0};
    const std::string_view body = frame->body;
    if (body.size() >= 3 && U(body[0]) == kCivPtt && U(body[1]) == 0x00)
        c.keying = U(body[2]) == 0x01 ? Keying::Key : U(body[2]) == 0x00 ? Keying::Release : Keying::None;
    return c;
}

// The 5-byte family's opcodes and their answers in bytes; every other known opcode
// is acknowledged with one byte.
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

Command FiveByteCommandOf(Bytes bytes) {
    Command c;
    c.bytes = std::move(bytes);
    const uint8_t code = U(c.bytes[4]);
    const Opcode* known = FindOpcode(code);
    c.answer.kind = known ? Answer::Kind::Sure : Answer::Kind::Maybe;
    c.answer.length = known ? known->answer : 1;
    c.keying = code == 0x08 ? Keying::Key : code == 0x88 ? Keying::Release : Keying::None;
    return c;
}

// Bytes that are no command (line ends between text commands, noise before a
// frame): passed on, nothing awaited.
Command Loose(Bytes bytes) {
    Command c;
    c.bytes = std::move(bytes);
    return c;
}

std::string Hex(std::string_view bytes) {
    std::string out;
    char text[4];
    for (char b : bytes) {
        std::snprintf(text, sizeof text, out.empty() ? "%02X" : " %02X", U(b));
        out += text;
    }
    return out;
}

}  // namespace

std::string_view Name(Language language) {
    switch (language) {
        case Language::Kenwood: return "kenwood";
        case Language::CiV: return "civ";
        case Language::Yaesu5: return "ft817";
        case Language::None: return "none";
        case Language::Unknown: break;
    }
    return "auto";
}

std::string_view Title(Language language) {
    switch (language) {
        case Language::Kenwood: return "Kenwood";
        case Language::CiV: return "CI-V";
        case Language::Yaesu5: return "Yaesu 5-byte";
        case Language::None: return "none";
        case Language::Unknown: break;
    }
    return "not known yet";
}

std::optional<Language> ParseLanguage(std::string_view word) {
    for (Language l : {Language::Unknown, Language::None, Language::Kenwood, Language::CiV, Language::Yaesu5})
        if (word == Name(l)) return l;
    return std::nullopt;
}

Bytes ReleaseFor(Language language, const Command& key) {
    switch (language) {
        case Language::Kenwood: return "RX;";
        case Language::Yaesu5: return Bytes("\x00\x00\x00\x00\x88", 5);
        case Language::CiV:
            if (const auto frame = FrameOf(key.bytes))
                return Bytes{'\xFE', '\xFE', static_cast<char>(frame->to), static_cast<char>(frame->from), '\x1C',
                             '\x00', '\x00', '\xFD'};
            return {};
        default: return {};
    }
}

Bytes RefusalFor(Language language, const Command& key) {
    if (language == Language::Kenwood) return "?;";
    if (language == Language::CiV) {
        if (const auto frame = FrameOf(key.bytes))
            return Bytes{'\xFE', '\xFE', static_cast<char>(frame->from), static_cast<char>(frame->to),
                         static_cast<char>(kNg), '\xFD'};
    }
    // The 5-byte family acknowledges a key with 00, and with F0 when the radio is
    // already transmitting: as it is, by another client's key. A client waiting for
    // the acknowledgement gets it at once instead of retrying its key after a
    // timeout, when the owner may have released (hamlib takes a byte other than 00
    // as a refusal).
    if (language == Language::Yaesu5) return Bytes(1, static_cast<char>(kAlreadyKeyed));
    return {};
}

std::string Describe(Language language, const Command& command) {
    if (language == Language::Kenwood) return "Kenwood " + command.bytes;
    if (language == Language::CiV) {
        const auto frame = FrameOf(command.bytes);
        return "CI-V " + Hex(frame ? frame->body : std::string_view(command.bytes));
    }
    if (language == Language::Yaesu5) return "Yaesu " + Hex(command.bytes.substr(4, 1));
    return Hex(command.bytes);
}

bool Known(Language language) {
    return language == Language::Kenwood || language == Language::CiV || language == Language::Yaesu5;
}

Bytes Unfinished(Language language, const Bytes& before, std::string_view written) {
    Bytes all = before;
    all.append(written);
    switch (language) {
        case Language::Kenwood: {
            const auto end = all.rfind(';');
            std::size_t start = end == Bytes::npos ? 0 : end + 1;
            while (start < all.size() && U(all[start]) <= ' ') ++start;  // the radio skips these
            return all.substr(std::max(start, all.size() > ClientReader::kLongestCommand
                                                  ? all.size() - ClientReader::kLongestCommand
                                                  : std::size_t{0}));
        }
        case Language::CiV: {
            const auto end = all.rfind(static_cast<char>(kEndOfFrame));
            const auto start = all.find(static_cast<char>(kPreamble), end == Bytes::npos ? 0 : end + 1);
            return start == Bytes::npos ? Bytes() : all.substr(start);
        }
        case Language::Yaesu5: return all.substr(all.size() - all.size() % 5);
        default: return {};
    }
}

Command Termination(Language language, const Bytes& unfinished, Dialect dialect) {
    Command c;
    if (unfinished.empty()) return c;
    if (language == Language::Kenwood) {
        const Command whole = TextCommandOf(unfinished + ";", dialect);
        // Never a key or a release that its writer did not finish: a parameter no
        // such command takes makes it an error.
        c.bytes = whole.keying == Keying::None ? ";" : "?;";
        // A read is answered as one; anything else at most with a refusal.
        c.answer = whole.answer.kind == Answer::Kind::Sure && whole.keying == Keying::None
                       ? whole.answer
                       : Answer{Answer::Kind::None, whole.answer.prefix};
    } else if (language == Language::CiV) {
        c.bytes = Bytes(3, static_cast<char>(kJammed));  // discarded, unanswered
    } else if (language == Language::Yaesu5) {
        c.bytes = Bytes(4 - unfinished.size() % 5, '\0') + static_cast<char>(kReadRxStatus);
        c.answer = Answer{Answer::Kind::Sure, {}, 0, 0, 1};
    }
    return c;
}

void ClientReader::Recognise() {
    const Bytes& b = held_;
    if (b.empty()) return;
    if (U(b[0]) == kPreamble) {
        if (b.size() >= 2 && U(b[1]) != kPreamble) {
            language_ = Language::None;
        } else if (const auto end = b.find(static_cast<char>(kEndOfFrame)); end != Bytes::npos) {
            language_ = end >= 5 ? Language::CiV : Language::None;
        } else if (b.size() > kRecogniseWithin) {
            language_ = Language::None;
        }
        return;
    }
    if (Letter(U(b[0]))) {
        std::size_t i = 0;
        for (; i < b.size() && Printable(U(b[i])) && b[i] != ';'; ++i) {}
        if (i < b.size() && b[i] == ';') {
            language_ = i >= 2 && Letter(U(b[1])) ? Language::Kenwood : Language::None;
            return;
        }
        if (i == b.size()) {  // text so far, no ';' yet
            if (b.size() > kRecogniseWithin) language_ = Language::None;
            return;
        }
    }
    if (b.size() >= 5) language_ = FindOpcode(U(b[4])) ? Language::Yaesu5 : Language::None;
}

std::vector<Command> ClientReader::Cut(Dialect dialect, Language as) {
    std::vector<Command> out;
    const auto take = [this](std::size_t n) {
        Bytes part = held_.substr(0, n);
        held_.erase(0, n);
        return part;
    };
    while (!held_.empty()) {
        if (as == Language::Kenwood) {
            if (U(held_[0]) <= ' ') {  // line ends and blanks between commands
                std::size_t n = 0;
                while (n < held_.size() && U(held_[n]) <= ' ') ++n;
                out.push_back(Loose(take(n)));
                continue;
            }
            // Any other text up to ';' is a command to the radio, if only one it
            // answers with an error.
            const auto end = held_.find(';');
            if (end == Bytes::npos) break;
            out.push_back(TextCommandOf(take(end + 1), dialect));
        } else if (as == Language::CiV) {
            if (U(held_[0]) != kPreamble) {
                const auto next = held_.find(static_cast<char>(kPreamble));
                out.push_back(Loose(take(next == Bytes::npos ? held_.size() : next)));
                continue;
            }
            const auto end = held_.find(static_cast<char>(kEndOfFrame));
            if (end == Bytes::npos) break;
            out.push_back(FrameCommandOf(take(end + 1)));
        } else if (as == Language::Yaesu5) {
            if (held_.size() < 5) break;
            out.push_back(FiveByteCommandOf(take(5)));
        } else {
            out.push_back(Loose(take(held_.size())));
        }
    }
    if (held_.size() > kLongestCommand) out.push_back(Loose(take(held_.size())));
    return out;
}

std::vector<Command> ClientReader::Feed(std::string_view bytes, Dialect dialect, Language radio) {
    held_.append(bytes);
    if (language_ == Language::Unknown) Recognise();
    if (language_ == Language::Unknown) return {};
    return Cut(dialect, language_ == Language::None && Known(radio) ? radio : language_);
}

Bytes ClientReader::TakeHeld() {
    // Not recognised in time: what came so far is no language's.
    if (language_ == Language::Unknown && !held_.empty()) Recognise();
    return std::exchange(held_, {});
}

void AnswerMatcher::SetLanguage(Language language) {
    if (language == language_) return;
    language_ = language;
    awaited_.clear();
}

void AnswerMatcher::Expect(const Answer& answer, uint64_t asker) {
    if (answer.kind != Answer::Kind::None) {
        awaited_.push_back({answer, asker, false});
        return;
    }
    if (language_ != Language::Kenwood || answer.prefix.empty()) return;
    // A set the radio refuses is answered "?;" when the turn may be over: that
    // refusal is still its writer's, not the answer the next client awaits.
    if (std::count_if(awaited_.begin(), awaited_.end(), [](const Awaited& a) { return a.refusalOnly; }) >=
        static_cast<std::ptrdiff_t>(kMaxRefusals))
        awaited_.erase(std::find_if(awaited_.begin(), awaited_.end(), [](const Awaited& a) { return a.refusalOnly; }));
    awaited_.push_back({answer, asker, true});
}

const AnswerMatcher::Awaited* AnswerMatcher::FirstAwaited() const {
    for (const Awaited& a : awaited_)
        if (!a.refusalOnly) return &a;
    return nullptr;
}

bool AnswerMatcher::Awaits(uint64_t asker) const {
    return std::any_of(awaited_.begin(), awaited_.end(),
                       [&](const Awaited& a) { return a.asker == asker && !a.refusalOnly; });
}

bool AnswerMatcher::AwaitsMaybe() const {
    return std::any_of(awaited_.begin(), awaited_.end(),
                       [](const Awaited& a) { return a.answer.kind == Answer::Kind::Maybe; });
}

void AnswerMatcher::GiveUpMaybe() {
    awaited_.erase(std::remove_if(awaited_.begin(), awaited_.end(),
                                  [](const Awaited& a) { return a.answer.kind == Answer::Kind::Maybe; }),
                   awaited_.end());
}

void AnswerMatcher::Clear() {
    awaited_.clear();
    held_.clear();
}

AnswerMatcher::Piece AnswerMatcher::Unit(std::size_t length, bool answer, uint64_t asker) {
    Piece p{held_.substr(0, length), answer, asker};
    held_.erase(0, length);
    return p;
}

namespace {

bool ErrorAnswer(const Bytes& unit) { return unit == "?;" || unit == "E;" || unit == "O;"; }

bool IsAnswerTo(Language language, const Answer& a, const Bytes& unit) {
    if (language == Language::Kenwood)
        return ErrorAnswer(unit) || (a.kind != Answer::Kind::None && unit.compare(0, a.prefix.size(), a.prefix) == 0);
    const auto frame = FrameOf(unit);
    return frame && frame->to == a.to && frame->from == a.from;
}

}  // namespace

bool AnswerMatcher::Matches(const Bytes& unit) const {
    return std::any_of(awaited_.begin(), awaited_.end(),
                       [&](const Awaited& a) { return IsAnswerTo(language_, a.answer, unit); });
}

uint64_t AnswerMatcher::Consume(const Bytes& unit) {
    // Radios answer in the order asked: the answers awaited before the one this unit
    // is were not given.
    while (!awaited_.empty()) {
        const Awaited a = awaited_.front();
        awaited_.pop_front();
        if (!IsAnswerTo(language_, a.answer, unit)) continue;
        if (language_ == Language::Kenwood && a.answer.prefix == "ID" && !ErrorAnswer(unit))
            dialect_ = unit.size() >= 7 ? Dialect::Yaesu : Dialect::Kenwood;  // ID0570; or ID019;
        return a.asker;
    }
    return 0;
}

// A piece that ends with `last` (a Kenwood answer's ';', a frame's FD): whole, or
// held until it is (or it has grown past any command's length).
std::optional<AnswerMatcher::Piece> AnswerMatcher::Terminated(char last) {
    const auto end = held_.find(last);
    if (end == Bytes::npos) {
        if (held_.size() <= ClientReader::kLongestCommand) return std::nullopt;
        return Unit(held_.size(), false);
    }
    const Bytes unit = held_.substr(0, end + 1);
    if (!Matches(unit)) return Unit(end + 1, false);
    return Unit(end + 1, true, Consume(unit));
}

std::optional<AnswerMatcher::Piece> AnswerMatcher::Next() {
    if (held_.empty()) return std::nullopt;
    switch (language_) {
        case Language::Kenwood: return Terminated(';');
        case Language::CiV: {
            if (U(held_[0]) != kPreamble) {
                const auto next = held_.find(static_cast<char>(kPreamble));
                return Unit(next == Bytes::npos ? held_.size() : next, false);
            }
            return Terminated(static_cast<char>(kEndOfFrame));
        }
        case Language::Yaesu5: {
            if (awaited_.empty()) return Unit(held_.size(), false);
            const Awaited a = awaited_.front();
            if (held_.size() < a.answer.length) return std::nullopt;
            awaited_.pop_front();
            return Unit(a.answer.length, true, a.asker);
        }
        default: return Unit(held_.size(), false);
    }
}

std::vector<AnswerMatcher::Piece> AnswerMatcher::Feed(std::string_view bytes) {
    held_.append(bytes);
    std::vector<Piece> pieces;
    while (auto p = Next()) pieces.push_back(std::move(*p));
    return pieces;
}

std::vector<AnswerMatcher::Piece> AnswerMatcher::Flush() {
    if (held_.empty()) return {};
    const Awaited* first = FirstAwaited();
    if (!first) return {Unit(held_.size(), false)};
    return {Unit(held_.size(), true, first->asker)};
}

}  // namespace ovrin::cat
