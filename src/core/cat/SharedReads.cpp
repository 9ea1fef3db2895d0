#include "cat/SharedReads.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace ovrin::cat {
namespace {

using Effect = SharedReads::Effect;

constexpr uint8_t kPreamble = 0xFE, kEndOfFrame = 0xFD;
uint8_t U(char c) { return static_cast<uint8_t>(c); }

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

template <std::size_t N>
bool In(const std::string_view (&list)[N], std::string_view name) {
    return std::find(std::begin(list), std::end(list), name) != std::end(list);
}

// Kenwood text, from the TS-2000/TS-590, K3 and FT-991 references. The reads a
// frequency set changes, the reads a mode set changes (a filter is the mode's),
// the sets that change their own reads alone, and what the radio's
// auto-information reports carry.
constexpr std::string_view kFrequencyReads[] = {"FA", "FB", "FC", "IF", "OI"};
constexpr std::string_view kFrequencySets[] = {"FA", "FB", "FC"};
constexpr std::string_view kModeReads[] = {"MD", "MD$", "IF", "OI", "SH", "SL", "FW"};
constexpr std::string_view kModeSets[] = {"MD", "MD$"};
constexpr std::string_view kOwnSets[] = {"AG", "AI", "KS", "MG", "ML", "PC", "RG", "SQ", "VG"};
constexpr std::string_view kReported[] = {"FA", "FB", "IF", "MD"};
// The reports of a change of frequency or mode: a reported read waits while one
// of them is partly said (the status word IF carries both).
constexpr std::string_view kChangeReports[] = {"FA", "FB", "FC", "MD", "IF"};

// The TS-2000's IF answer: IF, 11 digits of frequency, ..., the mode at 29 and
// the VFO (0 A, 1 B, 2 memory) at 30, ';' at 37.
constexpr std::size_t kStatusWordLength = 38;

bool ErrorAnswer(std::string_view unit) { return unit == "?;" || unit == "E;" || unit == "O;"; }

// What a Kenwood set (or an unasked report) of this name changes.
Effect KenwoodSet(const std::string& name) {
    if (In(kFrequencySets, name)) return Effect::Frequency;
    if (In(kModeSets, name)) return Effect::Mode;
    if (In(kOwnSets, name)) return Effect::Own;
    return Effect::All;
}

// `selector`: what the read carries after its name ("0" of SM0;), upper case.
SharedReads::Place KenwoodPlace(const std::string& name, const std::string& selector) {
    SharedReads::Place p;
    p.key = "K" + name + selector;
    p.setting = "K" + name;
    p.frequency = In(kFrequencyReads, name);
    p.mode = In(kModeReads, name);
    p.meter = name == "SM";
    // A VFO's frequency stays as it is while the transmitter is keyed (IF, the
    // mode and the meters may not: split shows the transmit side).
    p.steady = (name == "FA" || name == "FB" || name == "FC") && selector.empty();
    // The reports carry the main receiver's reads only (FT-991: MD0).
    p.reported = In(kReported, name) && (selector.empty() || (name == "MD" && selector == "0"));
    return p;
}

// A CI-V frame: FE FE <to> <from> <body> FD, with any number of preambles.
struct Frame {
    std::size_t at = 0;  // where <to> is
    uint8_t to = 0, from = 0;
    std::string_view body;
};
std::optional<Frame> FrameOf(std::string_view bytes) {
    std::size_t at = 0;
    while (at < bytes.size() && U(bytes[at]) == kPreamble) ++at;
    if (at < 2 || bytes.size() < at + 3 || U(bytes.back()) != kEndOfFrame) return std::nullopt;
    return Frame{at, U(bytes[at]), U(bytes[at + 1]), bytes.substr(at + 2, bytes.size() - at - 3)};
}

// CI-V reads: a command (and sub-command) without data. Only those sure to read on
// every Icom (IC-7300/7610/705 references): 03 frequency, 04 mode, 0F split,
// 14 xx levels, 15 xx meters, 16 xx functions, 1A 03 filter width, 1A 06 data mode,
// 1C 00 transmit state, 25/26 00|01 frequency and mode of either VFO.
bool CivRead(std::string_view body) {
    if (body.empty()) return false;
    const uint8_t command = U(body[0]);
    if (body.size() == 1) return command == 0x03 || command == 0x04 || command == 0x0F;
    if (body.size() != 2) return false;
    const uint8_t sub = U(body[1]);
    switch (command) {
        case 0x14: case 0x15: case 0x16: return true;
        case 0x1A: return sub == 0x03 || sub == 0x06;
        case 0x1C: return sub == 0x00;
        case 0x25: case 0x26: return sub <= 0x01;
        default: return false;
    }
}

SharedReads::Place CivPlace(uint8_t radio, std::string_view body) {
    const uint8_t command = U(body[0]);
    const int sub = body.size() > 1 ? U(body[1]) : -1;
    SharedReads::Place p;
    p.key = "C" + std::string(1, static_cast<char>(radio)) + std::string(body);
    p.setting = "C" + std::string(body);
    p.frequency = command == 0x03 || command == 0x25;
    p.mode = command == 0x04 || command == 0x26 || (command == 0x1A && (sub == 0x03 || sub == 0x06));
    p.meter = command == 0x15;
    p.reported = command == 0x03 || command == 0x04;
    return p;
}

SharedReads::Place FiveBytePlace(uint8_t opcode) {
    SharedReads::Place p;
    p.key = p.setting = "Y" + std::string(1, static_cast<char>(opcode));
    p.frequency = p.mode = opcode == 0x03;  // frequency and mode in one answer
    p.meter = opcode == 0xE7;
    return p;
}

// What the tables make of one command: a shared read, or what it may change.
struct Judgement {
    std::optional<SharedReads::Place> read;
    Effect effect = Effect::None;
    std::string setting;  // Own: the setting whose reads it changes
};
Judgement DropsAll() { return {std::nullopt, Effect::All, {}}; }

Judgement JudgeKenwood(const Command& c) {
    if (c.name.empty()) return {};  // line ends and blanks between commands
    if (c.keying != Keying::None) return {std::nullopt, Effect::Keying, {}};
    const std::string name = Upper(c.name);
    switch (c.answer.kind) {
        case Answer::Kind::Sure: return {KenwoodPlace(name, Upper(c.parameters)), Effect::None, {}};
        case Answer::Kind::Maybe: return DropsAll();
        case Answer::Kind::None: break;
    }
    return {std::nullopt, KenwoodSet(name), "K" + name};
}

Judgement JudgeCiv(const Command& c) {
    const auto frame = FrameOf(c.bytes);
    if (!frame || frame->body.empty() || c.keying != Keying::None) return DropsAll();
    const std::string_view body = frame->body;
    if (CivRead(body)) {
        if (frame->to == 0x00) return {};  // a read to every radio: none answers
        return {CivPlace(frame->to, body), Effect::None, {}};
    }
    const uint8_t command = U(body[0]);
    const int sub = body.size() > 1 ? U(body[1]) : -1;
    if (command == 0x00 || command == 0x05 || command == 0x25) return {std::nullopt, Effect::Frequency, {}};
    if (command == 0x01 || command == 0x06 || command == 0x26 || (command == 0x1A && sub == 0x06))
        return {std::nullopt, Effect::Mode, {}};
    // A level or a filter width is its own; one function may switch another off.
    if (command == 0x14 || (command == 0x1A && sub == 0x03))
        return {std::nullopt, Effect::Own, "C" + std::string(body.substr(0, 2))};
    if (command == 0x16) return {std::nullopt, Effect::Own, "C" + std::string(body.substr(0, 1))};
    return DropsAll();
}

Judgement JudgeFiveByte(const Command& c) {
    if (c.bytes.size() != 5 || c.keying != Keying::None) return DropsAll();
    const uint8_t opcode = U(c.bytes[4]);
    switch (opcode) {
        case 0x03: case 0xE7: case 0xF7: return {FiveBytePlace(opcode), Effect::None, {}};
        case 0xBB: case 0xBD: return {};  // EEPROM reads: passed as they are, never shared
        case 0x01: return {std::nullopt, Effect::Frequency, {}};
        case 0x07: return {std::nullopt, Effect::Mode, {}};
        default: return DropsAll();
    }
}

Judgement Judge(Language language, const Command& c) {
    switch (language) {
        case Language::Kenwood: return JudgeKenwood(c);
        case Language::CiV: return JudgeCiv(c);
        case Language::Yaesu5: return JudgeFiveByte(c);
        default: return DropsAll();  // bytes no table can judge
    }
}

// The radio's answer is the read's own: its letters, its command, its length.
bool OwnAnswer(Language language, const Command& read, std::string_view answer) {
    if (language == Language::Kenwood) {
        const std::string head = Upper(read.name) + Upper(read.parameters);
        return !ErrorAnswer(answer) && answer.size() > head.size() && answer.back() == ';' &&
               Upper(answer.substr(0, head.size())) == head;
    }
    if (language == Language::CiV) {
        const auto asked = FrameOf(read.bytes), got = FrameOf(answer);
        return asked && got && got->body.size() > asked->body.size() && got->body.starts_with(asked->body);
    }
    return language == Language::Yaesu5 && answer.size() == read.answer.length;
}

// An answer as this asker gets it: CI-V frames go to the controller address it wrote.
Bytes ForAsker(Language language, Bytes answer, const Command& asker) {
    if (language != Language::CiV) return answer;
    const auto asked = FrameOf(asker.bytes);
    const auto frame = FrameOf(answer);
    if (asked && frame) answer[frame->at] = static_cast<char>(asked->from);
    return answer;
}

}  // namespace

void SharedReads::SetWindowMs(uint64_t ms) { windowMs_ = std::min(ms, kMaxWindowMs); }

SharedReads::Effect SharedReads::EffectOf(Language language, const Command& command) {
    return Judge(language, command).effect;
}

uint64_t SharedReads::WindowFor(const Place& place) const {
    if (windowMs_ == 0) return 0;
    if (place.meter) return std::min(windowMs_, kMeterWindowMs);
    if (place.reported && reports_) return std::max(windowMs_, kReportedWindowMs);
    return windowMs_;
}

SharedReads::Verdict SharedReads::Ask(uint64_t client, Language language, const Command& command, uint64_t nowMs) {
    Judgement judged = Judge(language, command);
    Verdict verdict;
    verdict.effect = judged.effect;
    if (!judged.read) {
        Drop(judged.effect, judged.setting, std::nullopt);
        return verdict;
    }
    const Place& place = *judged.read;
    // What the store holds may be older than what the radio is saying: the read
    // waits for it to be whole, with any other read of the same that waits.
    if (Saying(language, place)) {
        ++counts_.joined;
        verdict.kind = Verdict::Kind::Joined;
        for (auto& [ticket, flight] : flights_) {
            if (flight.waits && flight.joinable && flight.place.key == place.key) {
                flight.joined.push_back({client, command});
                verdict.read = ticket;
                return verdict;
            }
        }
        verdict.read = nextTicket_++;
        Flight& waiting = flights_[verdict.read];
        waiting = Flight{std::move(*judged.read), language, command, {{client, command}}, true, true, true, stores_};
        return verdict;
    }
    if (const auto s = stored_.find(place.key);
        s != stored_.end() && nowMs >= s->second.at && nowMs - s->second.at < WindowFor(place)) {
        ++counts_.cached;
        verdict.kind = Verdict::Kind::Cached;
        verdict.answer = ForAsker(language, s->second.answer, command);
        return verdict;
    }
    for (auto& [ticket, flight] : flights_) {
        if (flight.joinable && flight.written && !flight.waits && flight.place.key == place.key) {
            flight.joined.push_back({client, command});
            ++counts_.joined;
            verdict.kind = Verdict::Kind::Joined;
            verdict.read = ticket;
            return verdict;
        }
    }
    verdict.read = nextTicket_++;
    flights_[verdict.read] = Flight{std::move(*judged.read), language, command, {}, true, true, false, stores_};
    ++counts_.sent;
    return verdict;
}

std::vector<SharedReads::Copy> SharedReads::Answered(uint64_t read, const Bytes& answer, uint64_t nowMs) {
    const auto found = flights_.find(read);
    if (found == flights_.end()) return {};
    const Flight flight = std::move(found->second);
    flights_.erase(found);
    // A read something may have changed since it went is not stored: its answer
    // may be from before the change.
    const bool own = OwnAnswer(flight.language, flight.command, answer);
    if (flight.joinable && own) Store(flight.place, answer, nowMs, false);
    std::vector<Copy> copies;
    if (!own) {  // its writer's own trouble (noise before it, a refusal): not theirs
        again_.insert(again_.end(), flight.joined.begin(), flight.joined.end());
        return copies;
    }
    for (const Asker& asker : flight.joined)
        copies.push_back({asker.client, ForAsker(flight.language, answer, asker.command)});
    return copies;
}

bool SharedReads::Saying(Language language, const Place& place) const {
    // A window of 0 sends every read to the radio: none would be answered from the report.
    if (!hearing_ || !reports_ || windowMs_ == 0 || !place.reported || language != Language::Kenwood) return false;
    const std::string start = (partialIn_ == language ? unsaid_ : std::string()) + held_;
    if (start.empty()) return false;
    // Its first letters tell which report it is; fewer than two may begin any.
    const std::string head = Upper(start.substr(0, 2));
    for (std::string_view name : kChangeReports) {
        if (!name.starts_with(head)) continue;
        const Effect effect = KenwoodSet(std::string(name));
        if (name == "IF" || (effect == Effect::Frequency && place.frequency) || (effect == Effect::Mode && place.mode))
            return true;
    }
    return false;
}

std::vector<SharedReads::Settled> SharedReads::Hearing(bool hearing, std::string_view held, uint64_t nowMs) {
    hearing_ = hearing;
    held_ = std::string(held.substr(0, 4));
    std::vector<Settled> settled;
    for (auto it = flights_.begin(); it != flights_.end();) {
        const Flight& f = it->second;
        const auto s = stored_.find(f.place.key);
        const bool fresh = s != stored_.end() && f.joinable && nowMs >= s->second.at &&
                           nowMs - s->second.at < WindowFor(f.place);
        // Answered once a report of it is whole, though another may have begun since;
        // from the store as it was when what was said proved not to concern it; by
        // the radio when it changed what was stored, or the line went quiet first
        // (a report cut short: what it said is not known).
        const bool refreshed = fresh && s->second.count > f.since;
        if (!f.waits || (!refreshed && Saying(f.language, f.place))) {
            ++it;
            continue;
        }
        const bool answered = refreshed || (fresh && hearing_);
        for (const Asker& a : f.joined)
            settled.push_back({it->first, a, answered ? ForAsker(f.language, s->second.answer, a.command) : Bytes()});
        it = flights_.erase(it);
    }
    return settled;
}

std::optional<Bytes> SharedReads::Meanwhile(uint64_t read, uint64_t nowMs) {
    const auto found = flights_.find(read);
    if (found == flights_.end() || found->second.written || !found->second.joinable) return std::nullopt;
    const Flight& f = found->second;
    const auto s = stored_.find(f.place.key);
    if (s == stored_.end() || s->second.count <= f.since || nowMs < s->second.at ||
        nowMs - s->second.at >= WindowFor(f.place))
        return std::nullopt;
    Bytes answer = ForAsker(f.language, s->second.answer, f.command);
    flights_.erase(found);
    --counts_.sent;
    ++counts_.cached;
    return answer;
}

bool SharedReads::Waiting() const {
    return std::any_of(flights_.begin(), flights_.end(), [](const auto& f) { return f.second.waits; });
}

void SharedReads::Parked(uint64_t read) {
    if (const auto found = flights_.find(read); found != flights_.end()) found->second.written = false;
}

void SharedReads::Written(uint64_t read) {
    if (const auto found = flights_.find(read); found != flights_.end()) found->second.written = true;
}

std::vector<SharedReads::Asker> SharedReads::GiveUp(uint64_t read) {
    const auto found = flights_.find(read);
    if (found == flights_.end()) return {};
    std::vector<Asker> joined = std::move(found->second.joined);
    flights_.erase(found);
    return joined;
}

void SharedReads::Leave(uint64_t client) {
    for (auto& [ticket, flight] : flights_)
        std::erase_if(flight.joined, [&](const Asker& a) { return a.client == client; });
}

void SharedReads::Changed() { Drop(Effect::Keying, {}, std::nullopt); }

void SharedReads::Close() {
    stored_.clear();
    flights_.clear();
    again_.clear();
    unsaid_.clear();
    hearing_ = false;
    held_.clear();
}

void SharedReads::Store(const Place& place, Bytes answer, uint64_t nowMs, bool byReport) {
    stored_[place.key] = Entry{place, std::move(answer), nowMs, byReport, ++stores_};
}

void SharedReads::Drop(Effect effect, const std::string& setting, std::optional<uint64_t> reportAt) {
    const auto changes = [&](const Place& p) {
        switch (effect) {
            case Effect::None: return false;
            case Effect::Own: return p.setting.starts_with(setting);
            case Effect::Frequency: return p.frequency;
            case Effect::Mode: return p.mode;
            case Effect::Keying: return !p.steady;
            case Effect::All: return true;
        }
        return true;
    };
    std::erase_if(stored_, [&](const auto& entry) {
        const Entry& s = entry.second;
        // Reports of one change come together: FA then IF, each implying the other.
        const bool sameChange = reportAt && s.byReport && s.at == *reportAt;
        return changes(s.place) && !sameChange;
    });
    // A read in flight when a report comes is answered after it: never older.
    if (reportAt) return;
    for (auto& [ticket, flight] : flights_)
        if (changes(flight.place)) flight.joinable = false;
}

void SharedReads::Unasked(Language language, Dialect dialect, std::string_view bytes, uint64_t nowMs) {
    const char end = language == Language::Kenwood ? ';' : language == Language::CiV ? static_cast<char>(kEndOfFrame) : 0;
    if (end == 0) return;
    // A report is passed on cut in two when a client writes while the radio says
    // it (the turns pass on what has come before the write): its start waits here.
    if (partialIn_ != language) unsaid_.clear();
    partialIn_ = language;
    const std::string all = std::exchange(unsaid_, {}) + std::string(bytes);
    std::string_view rest = all;
    for (std::size_t at; (at = rest.find(end)) != std::string_view::npos; rest.remove_prefix(at + 1)) {
        if (language == Language::Kenwood) KenwoodReport(dialect, rest.substr(0, at + 1), nowMs);
        else CivReport(rest.substr(0, at + 1), nowMs);
    }
    if (rest.size() <= kLongestReport) {
        unsaid_ = std::string(rest);
    } else {
        Drop(Effect::All, {}, nowMs);  // no report this long: anything may have changed
    }
}

void SharedReads::KenwoodReport(Dialect dialect, std::string_view report, uint64_t nowMs) {
    if (ErrorAnswer(report)) return;  // a late error answer changes nothing
    const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (report.size() < 3 || !letter(report[0]) || !letter(report[1])) {
        Drop(Effect::All, {}, nowMs);
        return;
    }
    const std::string name = Upper(report.substr(0, report.size() >= 4 && report[2] == '$' ? 3 : 2));
    if (name == "IF") {  // the status word: frequency, mode and more
        // Kenwood's (and Elecraft's) says the frequency of the VFO it names and the
        // mode: those reads are refreshed from it, so that a report that comes in
        // pieces on a slow line (FA, then IF 80 ms later) spares what it carries.
        if (dialect == Dialect::Kenwood && report.size() == kStatusWordLength) {
            const std::string_view hz = report.substr(2, 11);
            const char mode = report[29], vfo = report[30];
            const auto digit = [](char c) { return c >= '0' && c <= '9'; };
            if (std::all_of(hz.begin(), hz.end(), digit) && digit(mode) && (vfo == '0' || vfo == '1')) {
                const std::string read = vfo == '0' ? "FA" : "FB";
                Store(KenwoodPlace(read, {}), read + std::string(hz) + ";", nowMs, true);
                Store(KenwoodPlace("MD", {}), "MD" + std::string(1, mode) + ";", nowMs, true);
            }
        }
        Drop(Effect::Frequency, {}, nowMs);
        Drop(Effect::Mode, {}, nowMs);
    } else {
        Drop(KenwoodSet(name), "K" + name, nowMs);
    }
    if (!In(kReported, name)) return;
    std::string selector;
    if (name == "MD") {  // the newer Yaesu report the main receiver's mode as MD0x
        if (dialect == Dialect::Unknown) return;
        if (dialect == Dialect::Yaesu) selector = Upper(report.substr(2, 1));
    }
    const Place place = KenwoodPlace(name, selector);
    if (place.reported) Store(place, Bytes(report), nowMs, true);
}

void SharedReads::CivReport(std::string_view bytes, uint64_t nowMs) {
    const auto frame = FrameOf(bytes.substr(std::min(bytes.find(static_cast<char>(kPreamble)), bytes.size())));
    // Frames to a controller are answers the turns did not place: nothing changed.
    if (!frame || frame->to != 0x00 || frame->body.empty()) return;
    const uint8_t command = U(frame->body[0]);
    const std::string_view data = frame->body.substr(1);
    // The transceive frequency (00) and mode (01) are the data of the 03 and 04 reads.
    uint8_t read = 0;
    if (command == 0x00) {
        Drop(Effect::Frequency, {}, nowMs);
        if (!data.empty()) read = 0x03;
    } else if (command == 0x01) {
        Drop(Effect::Mode, {}, nowMs);
        if (data.size() == 2) read = 0x04;  // mode and filter, as 04 answers
    } else {
        Drop(Effect::All, {}, nowMs);
    }
    if (read == 0) return;
    Bytes answer{static_cast<char>(kPreamble), static_cast<char>(kPreamble), '\0', static_cast<char>(frame->from),
                 static_cast<char>(read)};
    answer += data;
    answer += static_cast<char>(kEndOfFrame);
    const Place place = CivPlace(frame->from, std::string(1, static_cast<char>(read)));
    Store(place, std::move(answer), nowMs, true);
}

}  // namespace ovrin::cat
