// Kenwood text (Kenwood, Elecraft, the newer Yaesu): "FA;" reads, "FA00014074000;"
// sets, several commands in one write, "?;" an error answer. A client may write
// in either case; names and answers are compared in capitals.
#include <algorithm>
#include <array>

#include "cat/Families.h"

namespace ovrin::cat {
namespace {

bool Letter(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool Printable(uint8_t c) { return c >= 0x20 && c <= 0x7E; }
char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
std::string Upper(std::string_view text) {
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) { return Upper(c); });
    return upper;
}

// Commands whose read carries a selector, or that never answer. The read of a
// command is the command with at most `selector` characters of parameters; more
// make it a set. kSetOnly: nothing comes back whatever follows. kAbsent: the
// dialect has no such command.
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

const TextCommand* FindText(std::string_view name) {
    for (const TextCommand& c : kTextCommands)
        if (name.substr(0, 2) == c.name) return &c;
    return nullptr;
}

Answer::Kind KindFor(int selector, std::size_t parameters) {
    if (selector == kSetOnly) return Answer::Kind::None;
    if (selector == kAbsent) return Answer::Kind::Maybe;
    return parameters <= static_cast<std::size_t>(selector) ? Answer::Kind::Sure : Answer::Kind::None;
}

// "FA00014074000" and the IF answer's first field: eleven digits of Hz.
std::optional<int64_t> ElevenDigits(std::string_view text) {
    if (text.size() < 11) return std::nullopt;
    int64_t hz = 0;
    for (char c : text.substr(0, 11)) {
        if (c < '0' || c > '9') return std::nullopt;
        hz = hz * 10 + (c - '0');
    }
    return hz;
}

// What the radio answers a command it refuses or cannot take.
constexpr std::array<std::string_view, 3> kErrorAnswers = {"?;", "E;", "O;"};

bool ErrorAnswer(std::string_view unit) {
    return std::find(kErrorAnswers.begin(), kErrorAnswers.end(), unit) != kErrorAnswers.end();
}

class Kenwood final : public Family {
public:
    Language Speaks() const override { return Language::Kenwood; }

    // Two letters, printable text, then ';'.
    Seen Recognise(std::string_view b) const override {
        if (!Letter(U(b[0]))) return Seen::NotMine;
        std::size_t i = 0;
        for (; i < b.size() && Printable(U(b[i])) && b[i] != ';'; ++i) {}
        if (i < b.size() && b[i] == ';') return i >= 2 && Letter(U(b[1])) ? Seen::Mine : Seen::Nothing;
        if (i == b.size()) return b.size() > ClientReader::kRecogniseWithin ? Seen::Nothing : Seen::NotYet;
        return Seen::NotMine;  // not text: perhaps five bytes
    }

    std::optional<Piece> NextCommand(std::string_view held) const override {
        if (U(held[0]) <= ' ') {  // line ends and blanks between commands
            std::size_t n = 0;
            while (n < held.size() && U(held[n]) <= ' ') ++n;
            return Piece{n, true};
        }
        // Any other text up to ';' is a command to the radio, if only one it
        // answers with an error.
        const auto end = held.find(';');
        if (end == std::string_view::npos) return std::nullopt;
        return Piece{end + 1, false};
    }

    Command CommandOf(Bytes bytes, Dialect dialect) const override {
        Command c;
        c.bytes = std::move(bytes);
        const std::string_view body = std::string_view(c.bytes).substr(0, c.bytes.size() - 1);  // without ';'
        const std::size_t nameLength = body.size() >= 3 && body[2] == '$' ? 3 : std::min<std::size_t>(2, body.size());
        c.name = Upper(body.substr(0, nameLength));
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
        if (c.name == "TX") {
            // Kenwood keys with TX; and TXn;. The newer Yaesu read TX; and release with TX0;.
            if (dialect != Dialect::Yaesu) c.keying = Keying::Key;
            else if (!c.parameters.empty()) c.keying = c.parameters == "0" ? Keying::Release : Keying::Key;
        } else if (c.name == "RX") {
            c.keying = Keying::Release;
        }
        return c;
    }

    char Terminator() const override { return ';'; }

    bool IsAnswerTo(const Answer& a, const Bytes& unit) const override {
        return ErrorAnswer(unit) ||
               (a.kind != Answer::Kind::None && Upper(std::string_view(unit).substr(0, a.prefix.size())) == a.prefix);
    }

    bool MayBeAnswerTo(const Answer& a, std::string_view start) const override {
        for (std::string_view error : kErrorAnswers)
            if (error.starts_with(start)) return true;
        const std::size_t n = std::min(start.size(), a.prefix.size());
        return a.kind != Answer::Kind::None && Upper(start.substr(0, n)) == a.prefix.substr(0, n);
    }

    // ID0570; (four digits: the newer Yaesu) or ID019;
    std::optional<Dialect> DialectOf(const Answer& a, const Bytes& unit) const override {
        if (a.prefix != "ID" || ErrorAnswer(unit)) return std::nullopt;
        return unit.size() >= 7 ? Dialect::Yaesu : Dialect::Kenwood;
    }

    bool RefusesSets() const override { return true; }

    // Reads are what the tables say is answered; keys, CW text (KY) and an antenna
    // tuner's tune cycle (AC, last digit 1; 2 on the newer Yaesu) transmit;
    // everything else, the commands the tables cannot place included, changes.
    Effect EffectOf(const Command& c, Dialect dialect) const override {
        if (c.bytes.empty() || c.bytes.back() != ';') {
            const bool blank = std::all_of(c.bytes.begin(), c.bytes.end(), [](char b) { return U(b) <= ' '; });
            return blank ? Effect::Read : Effect::Change;
        }
        if (c.keying == Keying::Key || (c.name == "KY" && !c.parameters.empty())) return Effect::Transmits;
        if (c.name == "AC" && c.parameters.size() == 3 &&
            ((c.parameters[2] == '1' && dialect != Dialect::Yaesu) || (c.parameters[2] == '2' && dialect != Dialect::Kenwood)))
            return Effect::Transmits;
        return c.keying == Keying::None && c.answer.kind == Answer::Kind::Sure ? Effect::Read : Effect::Change;
    }

    std::optional<int64_t> FrequencyReported(const Bytes& unit) const override {
        const std::string_view u(unit);
        if (u.size() < 14 || (u.substr(0, 2) != "FA" && u.substr(0, 2) != "IF")) return std::nullopt;
        return ElevenDigits(u.substr(2));
    }
    std::optional<int64_t> FrequencySet(const Command& c) const override {
        if (c.name != "FA" || c.parameters.size() != 11) return std::nullopt;
        return ElevenDigits(c.parameters);
    }
    Command FrequencyRead(const Command&) const override { return CommandOf("FA;", Dialect::Unknown); }

    Bytes Release(const Command&) const override { return "RX;"; }
    Bytes Refusal(const Command&) const override { return "?;"; }
    std::string Describe(const Command& command) const override { return "Kenwood " + command.bytes; }

    Bytes Unfinished(const Bytes& all) const override {
        const auto end = all.rfind(';');
        std::size_t start = end == Bytes::npos ? 0 : end + 1;
        while (start < all.size() && U(all[start]) <= ' ') ++start;  // the radio skips these
        return all.substr(std::max(start, all.size() > ClientReader::kLongestCommand
                                              ? all.size() - ClientReader::kLongestCommand
                                              : std::size_t{0}));
    }

    Command Termination(const Bytes& unfinished, Dialect dialect) const override {
        Command c;
        const Command whole = CommandOf(unfinished + ";", dialect);
        // Never a key or a release that its writer did not finish: a parameter no
        // such command takes makes it an error.
        c.bytes = whole.keying == Keying::None ? ";" : "?;";
        // A read is answered as one; anything else at most with a refusal.
        c.answer = whole.answer.kind == Answer::Kind::Sure && whole.keying == Keying::None
                       ? whole.answer
                       : Answer{Answer::Kind::None, whole.answer.prefix};
        return c;
    }
};

}  // namespace

const Family& KenwoodFamily() {
    static const Kenwood family;
    return family;
}

}  // namespace ovrin::cat
