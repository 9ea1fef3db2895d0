#pragma once
// The command languages radios speak on their serial port, as far as sharing the
// port needs them: where a client's command ends, what answer the radio gives it,
// which commands key and release the transmitter, and which radio bytes are the
// answer to a command and which the radio said unasked. Three families:
//  - Kenwood text (Kenwood, Elecraft, the newer Yaesu): "FA;" read, "FA00014074000;"
//    set (no answer), several commands in one write, "?;" an error answer;
//  - Icom CI-V: frames FE FE <to> <from> <command...> FD; every command answered in a
//    frame to its sender; frames to 00 are the radio's transceive reports;
//  - Yaesu 5-byte (FT-817/857/897): four parameter bytes and an opcode; a fixed
//    answer length per opcode, one acknowledgement byte for every other command.
// Anything else is no language: the turns then work as for any byte stream.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/Bytes.h"

namespace ovrin::cat {

enum class Language : uint8_t {
    Unknown,  // not recognised yet
    None,     // none of the families
    Kenwood,
    CiV,
    Yaesu5,
};
// "kenwood", "civ", "ft817", "none"; "auto" for Unknown.
std::string_view Name(Language language);
// The --cat values; nothing for a word that names no language.
std::optional<Language> ParseLanguage(std::string_view word);
// For people: "Kenwood", "CI-V", "Yaesu 5-byte", "none", "not known yet".
std::string_view Title(Language language);

// The newer Yaesu radios speak the Kenwood language with other meanings for a few
// commands (TX0; releases there, MD0; reads): told by the radio's answer to ID;
// (three digits Kenwood and Elecraft, four digits Yaesu).
enum class Dialect : uint8_t { Unknown, Kenwood, Yaesu };

// The answer the radio gives one command.
struct Answer {
    enum class Kind : uint8_t {
        None,   // a set: nothing comes back
        Sure,   // it always comes (the data, or an error answer)
        Maybe,  // the tables cannot place the command: treated as a read, but
                // the answer wait may end it
    };
    Kind kind = Kind::None;
    std::string prefix;   // Kenwood: the letters the answer starts with
    uint8_t to = 0;       // CI-V: the address the answer frame goes to,
    uint8_t from = 0;     //       and the radio it comes from
    std::size_t length = 0;  // Yaesu 5-byte: its length in bytes
    bool operator==(const Answer&) const = default;
};

enum class Keying : uint8_t { None, Key, Release };

struct Command {
    Bytes bytes;  // as the client wrote it
    Answer answer;
    Keying keying = Keying::None;
    // Kenwood: the command's name ("FA", "AI", "MD$") and what follows it.
    std::string name, parameters;
    bool operator==(const Command&) const = default;
};

// What releases the transmitter in the language of this key command, and what the
// radio answers a key it refuses ("" where it answers nothing).
Bytes ReleaseFor(Language language, const Command& key);
Bytes RefusalFor(Language language, const Command& key);
// "Kenwood TX;", "CI-V 1C 00 01": how a command keyed, for the log.
std::string Describe(Language language, const Command& command);

// Whether the language is one of the three families.
bool Known(Language language);

// What a client may do with the radio, by the allow-list entry that let it in.
enum class Role : uint8_t {
    Monitor,   // reads only
    Operate,   // reads and sets, never the transmitter
    Transmit,  // everything
};
// "monitor", "operate", "transmit".
std::string_view Name(Role role);
std::optional<Role> ParseRole(std::string_view word);

// What a command does to the radio, by its family's tables.
enum class Effect : uint8_t {
    Read,       // asks, changes nothing
    Change,     // sets, or the tables cannot place it
    Transmits,  // keys, or makes the radio send (CW text, a tuner's tune cycle)
};
// Commands in no family's language are changes: nobody can tell what they do.
Effect EffectOf(Language language, const Command& command, Dialect dialect);
// Whether a client in the role may have the command written to the radio.
bool Permits(Role role, Language language, const Command& command, Dialect dialect);
// What the radio answers a command it refuses, as a refusal by role is answered
// (Kenwood "?;", CI-V the NG frame to its sender; nothing in the 5-byte family,
// whose radios answer a bad command with nothing).
Bytes RoleRefusal(Language language, const Command& command);

// A frequency the radio reported (Kenwood FA/IF, CI-V 03 and transceive 00,
// 5-byte 03) or a command sets (Kenwood FA, CI-V 05/00, 5-byte 01), in Hz.
std::optional<int64_t> FrequencySetBy(Language language, const Command& command);
// A server's read of the frequency in the language, with the CI-V addresses of a
// client's frame (`like`) where there is one; empty where the family has none.
Command FrequencyRead(Language language, const Command& like);

// The radio's frequency as its answers and reports tell it: radio bytes in, the
// last frequency out. Kenwood and CI-V answers say what they are; a 5-byte answer
// is known by its place among the answers of the commands written.
class FrequencyWatch {
public:
    void SetLanguage(Language language);
    // A block was written: its answers, in order (5-byte family).
    void Written(const std::vector<Answer>& answers);
    // Radio bytes; true when they told a frequency.
    bool Heard(std::string_view bytes);
    std::optional<int64_t> Last() const { return last_; }
    // A frequency set that went to the radio: where it will be.
    void Set(int64_t hz) { last_ = hz; }
    void Forget();

private:
    Language language_ = Language::None;
    Bytes held_;
    // 5-byte: the answers still to come (their lengths) and which tell the frequency.
    std::deque<std::pair<std::size_t, bool>> coming_;
    std::optional<int64_t> last_;
};
// The start of a command the radio holds after `written` followed `before` (what
// it held of the same writer's before): empty when the radio's input is clean.
Bytes Unfinished(Language language, const Bytes& before, std::string_view written);
// What to write after an unfinished command whose writer has gone, so that the
// radio's input is clean for the next client's command, with the answer the radio
// may give (to be dropped): Kenwood text ends it with ';' (made no key or release),
// CI-V jams the frame (FC, which makes the radio discard it), the 5-byte family
// fills it to five bytes with a status read (E7).
Command Termination(Language language, const Bytes& unfinished, Dialect dialect);

// A client's bytes cut into whole commands, its language recognised from the first
// complete command (unless given). A command not yet complete is held for the rest.
class ClientReader {
public:
    // Past this many bytes without a recognised command, the client speaks none of
    // the languages.
    static constexpr std::size_t kRecogniseWithin = 64;
    // A command longer than this is no command: what is held goes as it is.
    static constexpr std::size_t kLongestCommand = 512;

    ClientReader() = default;
    explicit ClientReader(Language given) : language_(given) {}

    // The whole commands among what has come. In no language every byte goes at
    // once, as one command that the turns frame as before; unless the radio is
    // known to speak one (`radio`): then its bytes are cut as the radio will take
    // them, so that whatever the radio answers them is told apart.
    std::vector<Command> Feed(std::string_view bytes, Dialect dialect = Dialect::Unknown,
                              Language radio = Language::Unknown);
    // The rest of a held command did not come in time: what is held, as it is.
    Bytes TakeHeld();
    bool Holding() const { return !held_.empty(); }
    Language Spoken() const { return language_; }

private:
    void Recognise();
    std::vector<Command> Cut(Dialect dialect, Language as);

    Language language_ = Language::Unknown;
    Bytes held_;
};

// Radio bytes against the answers a turn waits for: the answers go to the asker as
// soon as each is whole, whatever else the radio says meanwhile (an auto-information
// report, a transceive frame) goes where unasked output goes.
class AnswerMatcher {
public:
    struct Piece {
        Bytes bytes;
        bool answer = false;  // to its asker; otherwise unasked
        uint64_t asker = 0;
        uint64_t tag = 0;  // the answer's, as Expect was given it
        bool operator==(const Piece&) const = default;
    };

    void SetLanguage(Language language);
    Language Speaks() const { return language_; }
    // The answers a write waits for, in order, and who asked; `tag` tells one
    // answer from another in the pieces.
    void Expect(const Answer& answer, uint64_t asker, uint64_t tag = 0);
    // An answer to this asker is awaited.
    bool Awaits(uint64_t asker) const;
    // The answer with this tag is still awaited.
    bool AwaitsTag(uint64_t tag) const;
    // Radio bytes: the whole pieces among them; a piece not yet whole is held.
    std::vector<Piece> Feed(std::string_view bytes);
    // The line went quiet: a piece held unfinished goes as it is, to the first asker
    // awaited if it may be its answer, otherwise unasked.
    std::vector<Piece> Flush();
    // Nothing more is awaited (a refusal of a set may still come).
    bool Done() const { return FirstAwaited() == nullptr; }
    // An answer the tables could not place is awaited.
    bool AwaitsMaybe() const;
    // The answer wait passed: the answers that may not come are given up.
    void GiveUpMaybe();
    // The turn is over: nothing is awaited any more; what is held of a piece stays.
    void Forget() { awaited_.clear(); }
    void Clear();
    Dialect RadioDialect() const { return dialect_; }
    // Part of a piece has come.
    bool Holding() const { return !held_.empty(); }
    // What has come of a piece is kept as a possible answer: any while an answer that
    // surely comes is awaited, otherwise one that starts as an awaited answer.
    bool HoldingAnswer() const;
    // The tag of the first answer awaited (0: none).
    uint64_t FirstTag() const { return FirstAwaited() ? FirstAwaited()->tag : 0; }
    std::size_t HeldSize() const { return held_.size(); }
    const Bytes& Held() const { return held_; }

private:
    std::optional<Piece> Next();
    std::optional<Piece> Terminated(char last);
    struct Awaited {
        Answer answer;
        uint64_t asker = 0;
        uint64_t tag = 0;
        // A Kenwood set: nothing comes back unless the radio refuses it ("?;"), and
        // then that refusal is its writer's. Such a one holds no turn open.
        bool refusalOnly = false;
    };
    // Refusals that may still come for sets, at most (the oldest go first).
    static constexpr std::size_t kMaxRefusals = 64;
    const Awaited* FirstAwaited() const;
    Piece Unit(std::size_t length, bool answer, uint64_t asker = 0, uint64_t tag = 0);
    bool Matches(const Bytes& unit) const;
    bool IsAnswer(const Answer& awaited, const Bytes& unit) const;
    // The asker and the tag of the answer this unit is.
    std::pair<uint64_t, uint64_t> Consume(const Bytes& unit);

    Language language_ = Language::None;
    Dialect dialect_ = Dialect::Unknown;
    std::deque<Awaited> awaited_;
    Bytes held_;
};

}  // namespace ovrin::cat
