#pragma once
// Each command family's own rules, one file a family (Kenwood.cpp, CiV.cpp,
// FiveByte.cpp): how its first command is recognised, where a command ends, what
// answer it gets and which radio bytes are that answer, what releases and refuses
// a key, what ends a command its writer left unfinished, and how a command is
// described. Cat.cpp dispatches to them by language; nothing else sees them.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cat/Cat.h"

namespace ovrin::cat {

inline uint8_t U(char c) { return static_cast<uint8_t>(c); }
// "FE FE 94 E0": bytes as hex, for the log.
std::string Hex(std::string_view bytes);

class Family {
public:
    // The first bytes a client sent, seen by each family in turn.
    enum class Seen : uint8_t {
        NotMine,  // another family may have it
        Mine,     // this family's
        Nothing,  // would be this family's, but is no command: no language
        NotYet,   // this family's so far: more must come
    };
    virtual ~Family() = default;
    virtual Language Speaks() const = 0;
    virtual Seen Recognise(std::string_view held) const = 0;

    // The next piece of a client's bytes: a whole command (`length` bytes), bytes
    // between commands (`loose`), or nothing while a command is not yet whole.
    struct Piece {
        std::size_t length = 0;
        bool loose = false;
    };
    virtual std::optional<Piece> NextCommand(std::string_view held) const = 0;
    virtual Command CommandOf(Bytes bytes, Dialect dialect) const = 0;

    // The radio's side: where a piece of its bytes ends. A terminator ends it
    // (Kenwood ';', CI-V FD; 0: fixed lengths by the answers awaited); bytes before
    // `LooseBefore` are no answer.
    virtual char Terminator() const = 0;
    virtual std::size_t LooseBefore(std::string_view) const { return 0; }
    // Whether a whole piece of the radio's bytes is the awaited answer, or an error
    // answer that may be.
    virtual bool IsAnswerTo(const Answer& awaited, const Bytes& unit) const = 0;
    // Whether the start of a piece, not yet whole, may still prove to be the awaited
    // answer or an error answer; by default it may.
    virtual bool MayBeAnswerTo(const Answer&, std::string_view) const { return true; }
    // What an answer tells of the radio's dialect (Kenwood's ID).
    virtual std::optional<Dialect> DialectOf(const Answer&, const Bytes&) const { return std::nullopt; }
    // The radio may refuse a set, which gets no answer otherwise, with an error
    // answer after its turn (Kenwood's "?;").
    virtual bool RefusesSets() const { return false; }

    // The role rules: what a command does, by the family's tables.
    virtual Effect EffectOf(const Command& command, Dialect dialect) const = 0;
    // The frequency a whole piece of the radio's bytes reports, or a command sets.
    virtual std::optional<int64_t> FrequencyReported(const Bytes&) const { return std::nullopt; }
    virtual std::optional<int64_t> FrequencySet(const Command&) const { return std::nullopt; }
    virtual Command FrequencyRead(const Command& like) const = 0;

    virtual Bytes Release(const Command& key) const = 0;
    virtual Bytes Refusal(const Command& key) const = 0;
    virtual std::string Describe(const Command& command) const = 0;
    // The start of a command in `all` that the radio still holds.
    virtual Bytes Unfinished(const Bytes& all) const = 0;
    virtual Command Termination(const Bytes& unfinished, Dialect dialect) const = 0;
};

// The family of a language; nothing for Unknown and None.
const Family* FamilyOf(Language language);
const Family& KenwoodFamily();
const Family& CivFamily();
const Family& FiveByteFamily();

}  // namespace ovrin::cat
