#include "cat/Cat.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "cat/Families.h"

namespace ovrin::cat {
namespace {

// Bytes that are no command (line ends between text commands, noise before a
// frame): passed on, nothing awaited.
Command Loose(Bytes bytes) {
    Command c;
    c.bytes = std::move(bytes);
    return c;
}

}  // namespace

std::string Hex(std::string_view bytes) {
    std::string out;
    char text[4];
    for (char b : bytes) {
        std::snprintf(text, sizeof text, out.empty() ? "%02X" : " %02X", U(b));
        out += text;
    }
    return out;
}

const Family* FamilyOf(Language language) {
    switch (language) {
        case Language::Kenwood: return &KenwoodFamily();
        case Language::CiV: return &CivFamily();
        case Language::Yaesu5: return &FiveByteFamily();
        case Language::Unknown:
        case Language::None: break;
    }
    return nullptr;
}

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
    const Family* family = FamilyOf(language);
    return family ? family->Release(key) : Bytes();
}

Bytes RefusalFor(Language language, const Command& key) {
    const Family* family = FamilyOf(language);
    return family ? family->Refusal(key) : Bytes();
}

std::string Describe(Language language, const Command& command) {
    const Family* family = FamilyOf(language);
    return family ? family->Describe(command) : Hex(command.bytes);
}

bool Known(Language language) { return FamilyOf(language) != nullptr; }

std::string_view Name(Role role) {
    switch (role) {
        case Role::Monitor: return "monitor";
        case Role::Operate: return "operate";
        case Role::Transmit: break;
    }
    return "transmit";
}

std::optional<Role> ParseRole(std::string_view word) {
    for (Role r : {Role::Monitor, Role::Operate, Role::Transmit})
        if (word == Name(r)) return r;
    return std::nullopt;
}

Effect EffectOf(Language language, const Command& command, Dialect dialect) {
    const Family* family = FamilyOf(language);
    return family ? family->EffectOf(command, dialect) : Effect::Change;
}

bool Permits(Role role, Language language, const Command& command, Dialect dialect) {
    if (role == Role::Transmit) return true;
    const Effect effect = EffectOf(language, command, dialect);
    return role == Role::Operate ? effect != Effect::Transmits : effect == Effect::Read;
}

Bytes RoleRefusal(Language language, const Command& command) {
    return language == Language::Yaesu5 ? Bytes() : RefusalFor(language, command);
}

std::optional<int64_t> FrequencySetBy(Language language, const Command& command) {
    const Family* family = FamilyOf(language);
    return family ? family->FrequencySet(command) : std::nullopt;
}

Command FrequencyRead(Language language, const Command& like) {
    const Family* family = FamilyOf(language);
    return family ? family->FrequencyRead(like) : Command{};
}

void FrequencyWatch::SetLanguage(Language language) {
    if (language == language_) return;
    language_ = language;
    Forget();
}

void FrequencyWatch::Forget() {
    held_.clear();
    coming_.clear();
    last_.reset();
}

void FrequencyWatch::Written(const std::vector<Answer>& answers) {
    if (language_ != Language::Yaesu5) return;
    // Only the frequency read is answered in five bytes.
    for (const Answer& a : answers)
        if (a.kind != Answer::Kind::None && a.length > 0) coming_.emplace_back(a.length, a.length == 5);
    while (coming_.size() > ClientReader::kLongestCommand) coming_.pop_front();
}

bool FrequencyWatch::Heard(std::string_view bytes) {
    const Family* family = FamilyOf(language_);
    if (!family) return false;
    held_.append(bytes);
    bool told = false;
    const auto tell = [&](const Bytes& piece) {
        if (const auto hz = family->FrequencyReported(piece)) {
            last_ = hz;
            told = true;
        }
    };
    const auto take = [this](std::size_t n) {
        Bytes piece = held_.substr(0, n);
        held_.erase(0, n);
        return piece;
    };
    if (family->Terminator() == 0) {  // fixed lengths, in the order asked
        while (!coming_.empty() && held_.size() >= coming_.front().first) {
            const auto [length, frequency] = coming_.front();
            coming_.pop_front();
            const Bytes piece = take(length);
            if (frequency) tell(piece);
        }
        if (coming_.empty()) held_.clear();  // unasked: nothing to tell by
        return told;
    }
    for (;;) {
        if (const std::size_t loose = family->LooseBefore(held_)) take(loose);
        const auto end = held_.find(family->Terminator());
        if (end == Bytes::npos) break;
        tell(take(end + 1));
    }
    if (held_.size() > ClientReader::kLongestCommand) held_.clear();
    return told;
}

Bytes Unfinished(Language language, const Bytes& before, std::string_view written) {
    const Family* family = FamilyOf(language);
    if (!family) return {};
    Bytes all = before;
    all.append(written);
    return family->Unfinished(all);
}

Command Termination(Language language, const Bytes& unfinished, Dialect dialect) {
    const Family* family = FamilyOf(language);
    if (!family || unfinished.empty()) return {};
    return family->Termination(unfinished, dialect);
}

// CI-V first (its preamble), then text, then five bytes: the first family that
// claims the bytes, or says they are none, decides.
void ClientReader::Recognise() {
    if (held_.empty()) return;
    for (const Family* family : {&CivFamily(), &KenwoodFamily(), &FiveByteFamily()}) {
        switch (family->Recognise(held_)) {
            case Family::Seen::Mine: language_ = family->Speaks(); return;
            case Family::Seen::Nothing: language_ = Language::None; return;
            case Family::Seen::NotYet: return;
            case Family::Seen::NotMine: break;
        }
    }
    language_ = Language::None;
}

std::vector<Command> ClientReader::Cut(Dialect dialect, Language as) {
    std::vector<Command> out;
    const auto take = [this](std::size_t n) {
        Bytes part = held_.substr(0, n);
        held_.erase(0, n);
        return part;
    };
    const Family* family = FamilyOf(as);
    while (!held_.empty()) {
        if (!family) {
            out.push_back(Loose(take(held_.size())));
            continue;
        }
        const auto piece = family->NextCommand(held_);
        if (!piece) break;
        out.push_back(piece->loose ? Loose(take(piece->length)) : family->CommandOf(take(piece->length), dialect));
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

void AnswerMatcher::Expect(const Answer& answer, uint64_t asker, uint64_t tag) {
    if (answer.kind != Answer::Kind::None) {
        awaited_.push_back({answer, asker, tag, false});
        return;
    }
    const Family* family = FamilyOf(language_);
    if (!family || !family->RefusesSets() || answer.prefix.empty()) return;
    // A set the radio refuses is answered "?;" when the turn may be over: that
    // refusal is still its writer's, not the answer the next client awaits.
    if (std::count_if(awaited_.begin(), awaited_.end(), [](const Awaited& a) { return a.refusalOnly; }) >=
        static_cast<std::ptrdiff_t>(kMaxRefusals))
        awaited_.erase(std::find_if(awaited_.begin(), awaited_.end(), [](const Awaited& a) { return a.refusalOnly; }));
    awaited_.push_back({answer, asker, tag, true});
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

bool AnswerMatcher::AwaitsTag(uint64_t tag) const {
    return std::any_of(awaited_.begin(), awaited_.end(), [&](const Awaited& a) { return a.tag == tag; });
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

AnswerMatcher::Piece AnswerMatcher::Unit(std::size_t length, bool answer, uint64_t asker, uint64_t tag) {
    Piece p{held_.substr(0, length), answer, asker, tag};
    held_.erase(0, length);
    return p;
}

bool AnswerMatcher::Matches(const Bytes& unit) const {
    return std::any_of(awaited_.begin(), awaited_.end(),
                       [&](const Awaited& a) { return IsAnswer(a.answer, unit); });
}

std::pair<uint64_t, uint64_t> AnswerMatcher::Consume(const Bytes& unit) {
    // Radios answer in the order asked: the answers awaited before the one this unit
    // is were not given.
    while (!awaited_.empty()) {
        const Awaited a = awaited_.front();
        awaited_.pop_front();
        if (!IsAnswer(a.answer, unit)) continue;
        if (const auto dialect = FamilyOf(language_)->DialectOf(a.answer, unit)) dialect_ = *dialect;
        return {a.asker, a.tag};
    }
    return {0, 0};
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
    const auto [asker, tag] = Consume(unit);
    return Unit(end + 1, true, asker, tag);
}

bool AnswerMatcher::IsAnswer(const Answer& awaited, const Bytes& unit) const {
    const Family* family = FamilyOf(language_);
    return family && family->IsAnswerTo(awaited, unit);
}

std::optional<AnswerMatcher::Piece> AnswerMatcher::Next() {
    if (held_.empty()) return std::nullopt;
    const Family* family = FamilyOf(language_);
    if (!family) return Unit(held_.size(), false);
    if (family->Terminator() == 0) {  // answers of fixed lengths, in the order asked
        if (awaited_.empty()) return Unit(held_.size(), false);
        const Awaited a = awaited_.front();
        if (held_.size() < a.answer.length) return std::nullopt;
        awaited_.pop_front();
        return Unit(a.answer.length, true, a.asker, a.tag);
    }
    if (const std::size_t loose = family->LooseBefore(held_)) return Unit(loose, false);
    return Terminated(family->Terminator());
}

std::vector<AnswerMatcher::Piece> AnswerMatcher::Feed(std::string_view bytes) {
    held_.append(bytes);
    std::vector<Piece> pieces;
    while (auto p = Next()) pieces.push_back(std::move(*p));
    return pieces;
}

bool AnswerMatcher::HoldingAnswer() const {
    const Family* family = FamilyOf(language_);
    // While an answer that surely comes is awaited, a piece is kept whole until it is
    // (a report cut by a pause stays one); otherwise only one that starts as an
    // awaited answer would, so that a long answer unlike its command's is not held.
    // A set's possible refusal holds nothing.
    return !held_.empty() && family && std::any_of(awaited_.begin(), awaited_.end(), [&](const Awaited& a) {
               return !a.refusalOnly && (a.answer.kind == Answer::Kind::Sure || family->MayBeAnswerTo(a.answer, held_));
           });
}

std::vector<AnswerMatcher::Piece> AnswerMatcher::Flush() {
    if (held_.empty()) return {};
    const Awaited* first = FirstAwaited();
    if (!first || !HoldingAnswer()) return {Unit(held_.size(), false)};
    return {Unit(held_.size(), true, first->asker, first->tag)};
}

}  // namespace ovrin::cat
