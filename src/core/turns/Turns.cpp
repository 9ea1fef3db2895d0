#include "turns/Turns.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace ovrin {

using cat::Known;

std::vector<Turns::Delivery> Turns::Join(ConnectionId id) {
    std::vector<Delivery> out;
    // An answer still coming (to a client that left) is not cut in two.
    if (matcher_.Done()) Route(matcher_.Flush(), out);
    // A piece begun before it came, still awaited as an answer, is not its either,
    // nor what is held as the possible start of an echo (it may prove not to be).
    if (matcher_.Holding() || !heldEcho_.empty()) lateJoiners_[id] = Late{matcher_.HeldSize(), heldEcho_.size()};
    joined_.insert(id);
    Sweep(out);
    return out;
}

void Turns::Leave(ConnectionId id) {
    joined_.erase(id);
    noUnasked_.erase(id);
    lateJoiners_.erase(id);
    // What it joined reaches nobody; a read it wrote still serves the others.
    shared_.Leave(id);
    slots_.erase(id);
    asked_.erase(id);
    // Its reads still on their way are answered to nobody now (its turn ends
    // below): whoever joined them asks again, and nobody joins them later.
    for (auto it = expected_.begin(); it != expected_.end();) {
        if (it->second.client != id) {
            ++it;
            continue;
        }
        GaveUp(it->second.ticket);
        it = expected_.erase(it);
    }
    // In a known language its answers are told apart from the next client's: its
    // turn ends now, and what comes for it still reaches nobody.
    if (open_ && holder_ == id && Known(turnLanguage_)) Close();
}

void Turns::SetUnaskedWanted(ConnectionId id, bool wanted) {
    if (wanted) noUnasked_.erase(id);
    else noUnasked_.insert(id);
}

std::optional<Turns::Write> Turns::Submit(ConnectionId from, Bytes data, bool echoed) {
    return Submit(from, Block{std::move(data), echoed, cat::Language::None, {}, {}});
}

void Turns::Append(ParkedBlock& parked, Block block) {
    std::size_t total = 0;
    for (std::size_t n : block.sizes) total += n;
    parked.bytes += block.data.size();
    if (block.sizes.size() != block.answers.size() || total != block.data.size()) {
        parked.pieces.push_back({std::move(block.data), std::move(block.answers)});
        return;
    }
    std::size_t at = 0;
    for (std::size_t i = 0; i < block.sizes.size(); ++i) {
        parked.pieces.push_back({block.data.substr(at, block.sizes[i]), {block.answers[i]}});
        at += block.sizes[i];
    }
}

Turns::ParkedBlock Turns::TakeTurn(ParkedBlock& parked) {
    ParkedBlock turn{parked.echoed, parked.language, {}, 0};
    std::size_t answered = 0;
    while (!parked.pieces.empty()) {
        Piece& p = parked.pieces.front();
        std::size_t answers = 0;
        for (const cat::Answer& a : p.answers) answers += a.kind != cat::Answer::Kind::None;
        if (Known(parked.language) && turn.bytes > 0 &&
            (answered + answers > kTurnAnswers || turn.bytes + p.bytes.size() > kTurnBytes))
            break;
        answered += answers;
        parked.bytes -= p.bytes.size();
        turn.bytes += p.bytes.size();
        turn.pieces.push_back(std::move(p));
        parked.pieces.pop_front();
    }
    return turn;
}

Bytes Turns::DataOf(const ParkedBlock& turn) {
    Bytes data;
    for (const Piece& p : turn.pieces) data += p.bytes;
    return data;
}

std::optional<Turns::Write> Turns::Submit(ConnectionId from, Block block, bool first) {
    if (block.data.empty()) return std::nullopt;
    ParkedBlock mine{block.echoed, block.language, {}, 0};
    Append(mine, std::move(block));
    // A key goes ahead of the others' parked blocks (never of its sender's own).
    if (Sharing() && Share(from, mine)) first = true;
    if (mine.pieces.empty()) return std::nullopt;  // all answered without the radio
    // The holder's further blocks go at once. Past a bound they are written but no
    // longer kept track of, so that what a radio that never answers is awaited to
    // say (and may echo) cannot grow without end, while a long write (a memory
    // upload) still flows at the line's pace. In a known language they go at once
    // only while its answers are all in, so that none is still to come when its
    // turn ends: otherwise they wait for its next turn.
    const bool own = open_ && holder_ == from && order_.empty() && mine.language == turnLanguage_ &&
                     !(Known(turnLanguage_) && matcher_.Awaits(from));
    if (own || (!open_ && order_.empty())) {
        ParkedBlock now = TakeTurn(mine);
        if (!mine.pieces.empty()) {  // the rest waits for its next turn
            parked_.emplace(from, std::move(mine));
            order_.push_back(from);
        }
        if (!own) return Open(from, std::move(now));
        Written(from, now);
        Bytes data = DataOf(now);
        const bool tracked = turnBytes_ + data.size() <= kMaxTurnBytes;
        if (tracked) {
            turnBytes_ += data.size();
            if (now.echoed) echo_ += data;
        }
        if (tracked || Known(turnLanguage_)) Await(from, now);
        return Write{from, std::move(data), now.echoed};
    }
    auto [it, added] = parked_.try_emplace(from, std::move(mine));
    if (!added) {
        it->second.bytes += mine.bytes;
        for (Piece& p : mine.pieces) it->second.pieces.push_back(std::move(p));
    }
    if (added || first) {
        if (!added) order_.erase(std::find(order_.begin(), order_.end(), from));
        if (first) order_.push_front(from);
        else order_.push_back(from);
    }
    return std::nullopt;
}

void Turns::Await(ConnectionId from, const ParkedBlock& turn) {
    for (const Piece& p : turn.pieces) {
        for (std::size_t i = 0; i < p.answers.size(); ++i) {
            const uint64_t tag = nextTag_++;
            matcher_.Expect(p.answers[i], from, tag);
            const uint64_t slot = i < p.answerSlots.size() ? p.answerSlots[i] : 0;
            if (Sharing() && p.answers[i].kind != cat::Answer::Kind::None) expected_[tag] = {from, p.ticket, slot};
        }
    }
}

Turns::Write Turns::Open(ConnectionId from, ParkedBlock turn) {
    open_ = true;
    holder_ = from;
    answered_ = false;
    turnLanguage_ = turn.language;
    Bytes data = DataOf(turn);
    turnBytes_ = data.size();
    echo_ = turn.echoed ? data : Bytes();
    Written(from, turn);
    if (Known(turnLanguage_)) {
        matcher_.SetLanguage(turnLanguage_);
        Sweep(ready_);  // another language's answers are no longer awaited
        Await(from, turn);
    }
    return Write{from, std::move(data), turn.echoed};
}

bool Turns::Share(ConnectionId from, ParkedBlock& block) {
    using Kind = cat::SharedReads::Verdict::Kind;
    bool keys = false;
    std::deque<Piece> kept;
    // The server's own writes and a departed client's get their answers nowhere.
    std::deque<Slot> none;
    Asked unseen;
    const bool present = joined_.count(from) > 0;
    std::deque<Slot>& queue = present ? slots_[from] : none;
    Asked& asked = present ? asked_[from] : unseen;
    // Bytes of its own still to be written ahead of a read: should the read it
    // would join get no answer, it is written again, which must not be ahead of them.
    bool behind = parked_.count(from) > 0;
    for (Piece& p : block.pieces) {
        if (Known(block.language) && p.answers.size() == 1) {
            cat::ClientReader reader(block.language);
            std::vector<cat::Command> commands = reader.Feed(p.bytes, matcher_.RadioDialect());
            if (commands.size() == 1 && !reader.Holding() && commands[0].bytes == p.bytes)
                p.command = std::move(commands[0]);
        }
        ++asked.commands;
        if (!p.command) {
            shared_.Changed();  // nothing the tables can judge: anything may change
        } else {
            keys = keys || p.command->keying != cat::Keying::None;
            if (!p.command->name.empty() || block.language != cat::Language::Kenwood) {
                const std::string said = cat::Describe(block.language, *p.command);
                std::erase(asked.recent, said);
                asked.recent.push_back(said);
                if (asked.recent.size() > kRecentAsked) asked.recent.erase(asked.recent.begin());
            }
            cat::SharedReads::Verdict v = shared_.Ask(from, block.language, *p.command, Now());
            // A client still awaiting its own answers writes its read itself: a copy
            // or a read in hand would wait behind them anyway, outside the bound on
            // what a client may park. A client writing reads faster than the radio
            // answers would otherwise pile up answers in hand without end (tens of
            // thousands a second), and the time spent on them held the other
            // clients' answers back.
            if ((v.kind == Kind::Joined || v.kind == Kind::Cached) && !queue.empty()) v = {};
            // The server's own reads (the frequency before a key) are for the radio's
            // word now: never answered from a read in hand.
            if (v.kind == Kind::Cached && !present) v = {};
            if (v.kind == Kind::Joined && (behind || AnswerBegun(v.read))) v = {};
            if (v.kind == Kind::Cached || v.kind == Kind::Joined) {
                const bool cached = v.kind == Kind::Cached;
                ++(cached ? asked.cached : asked.joined);
                queue.push_back({cached ? Slot::Kind::Ready : Slot::Kind::Joined, v.read, std::move(v.answer), false,
                                 block.language, block.echoed});
                block.bytes -= p.bytes.size();
                continue;
            }
            p.ticket = v.read;
            // Joined only once on its way: until then others wait in their own turns.
            if (p.ticket != 0) shared_.Parked(p.ticket);
        }
        for (const cat::Answer& a : p.answers) {
            p.answerSlots.push_back(a.kind == cat::Answer::Kind::None ? 0 : nextSlot_++);
            if (p.answerSlots.back() != 0) queue.push_back({Slot::Kind::Radio, p.answerSlots.back(), {}, false, {}, true});
        }
        kept.push_back(std::move(p));
        behind = true;
    }
    block.pieces = std::move(kept);
    Release(from, ready_);
    return keys;
}

bool Turns::AnswerBegun(uint64_t ticket) const {
    if (!matcher_.Holding()) return false;
    const auto e = expected_.find(matcher_.FirstTag());
    return e != expected_.end() && e->second.ticket == ticket;
}

void Turns::Written(ConnectionId from, const ParkedBlock& turn) {
    if (!Sharing()) return;
    const uint64_t now = Now();
    const auto mine = slots_.find(from);
    while (!writtenAt_.empty() && now - writtenAt_.front() >= kRateWindowMs) writtenAt_.pop_front();
    for (const Piece& p : turn.pieces) {
        writtenAt_.push_back(now);
        if (p.ticket != 0) shared_.Written(p.ticket);
        // A read written before it and answered since is from before the change.
        if (!p.command) shared_.Changed();
        else if (cat::SharedReads::EffectOf(turn.language, *p.command) != cat::SharedReads::Effect::None)
            shared_.Ask(from, turn.language, *p.command, Now());
        if (mine == slots_.end()) continue;
        for (Slot& s : mine->second)
            if (s.kind == Slot::Kind::Radio && std::find(p.answerSlots.begin(), p.answerSlots.end(), s.id) != p.answerSlots.end())
                s.written = true;
    }
}

Turns::Asked Turns::AskedBy(ConnectionId id) const {
    const auto found = asked_.find(id);
    return found == asked_.end() ? Asked{} : found->second;
}

double Turns::CommandsPerSecond() {
    const uint64_t now = Now();
    while (!writtenAt_.empty() && now - writtenAt_.front() >= kRateWindowMs) writtenAt_.pop_front();
    return static_cast<double>(writtenAt_.size()) * 1000.0 / static_cast<double>(kRateWindowMs);
}

void Turns::Give(ConnectionId to, Bytes data, uint64_t slot, std::vector<Delivery>& out, uint64_t tag) {
    const auto found = slots_.find(to);
    if (found == slots_.end() || found->second.empty()) {
        if (!data.empty()) out.push_back({to, std::move(data)});
        return;
    }
    std::deque<Slot>& q = found->second;
    auto s = std::find_if(q.begin(), q.end(), [&](const Slot& x) { return slot != 0 && x.kind == Slot::Kind::Radio && x.id == slot; });
    if (s == q.end()) {
        // An answer it holds no place for (a refused set's): behind the answers its
        // earlier commands await, ahead of those of its later ones (by the order
        // they were written in), ahead of what it has not written yet.
        const auto later = [&](const Slot& x) {
            if (x.kind != Slot::Kind::Radio) return false;
            if (!x.written) return true;
            if (tag == 0) return false;
            const auto e = std::find_if(expected_.begin(), expected_.end(),
                                        [&](const auto& kv) { return kv.second.client == to && kv.second.slot == x.id; });
            return e != expected_.end() && e->first > tag;
        };
        s = q.insert(std::find_if(q.begin(), q.end(), later), Slot{});
    }
    s->kind = Slot::Kind::Ready;
    s->data = std::move(data);
    Release(to, out);
}

void Turns::Release(ConnectionId to, std::vector<Delivery>& out) {
    const auto found = slots_.find(to);
    if (found == slots_.end()) return;
    std::deque<Slot>& q = found->second;
    while (!q.empty() && q.front().kind == Slot::Kind::Ready) {
        if (!q.front().data.empty()) out.push_back({to, std::move(q.front().data)});
        q.pop_front();
    }
    if (q.empty()) slots_.erase(found);
}

void Turns::Copied(uint64_t ticket, const cat::SharedReads::Copy& copy, std::vector<Delivery>& out) {
    const auto found = slots_.find(copy.client);
    if (found == slots_.end()) return;
    for (Slot& s : found->second) {
        if (s.kind == Slot::Kind::Joined && s.id == ticket) {
            s.kind = Slot::Kind::Ready;
            s.data = copy.answer;
            break;
        }
    }
    Release(copy.client, out);
}

void Turns::GaveUp(uint64_t ticket) {
    if (ticket == 0) return;
    for (const cat::SharedReads::Asker& asker : shared_.GiveUp(ticket)) Resend(ticket, asker);
}

void Turns::Resend(uint64_t ticket, const cat::SharedReads::Asker& asker) {
    const auto found = slots_.find(asker.client);
    if (found == slots_.end()) return;
    const auto s = std::find_if(found->second.begin(), found->second.end(),
                                [&](const Slot& x) { return x.kind == Slot::Kind::Joined && x.id == ticket; });
    if (s == found->second.end()) return;
    // Its own read now, ahead of what it parked after (its answer keeps its place).
    s->kind = Slot::Kind::Radio;
    s->id = nextSlot_++;
    auto [it, added] = parked_.try_emplace(asker.client, ParkedBlock{s->echoed, s->language, {}, 0});
    it->second.pieces.push_front(Piece{asker.command.bytes, {asker.command.answer}, asker.command, 0, {s->id}});
    it->second.bytes += asker.command.bytes.size();
    if (added) order_.push_front(asker.client);
}

void Turns::Sweep(std::vector<Delivery>& out, uint64_t before) {
    for (auto it = expected_.begin(); it != expected_.end() && it->first < before;) {
        if (matcher_.AwaitsTag(it->first)) {
            ++it;
            continue;
        }
        const Expected e = it->second;
        it = expected_.erase(it);
        GaveUp(e.ticket);
        if (const auto found = slots_.find(e.client); found != slots_.end()) {
            std::erase_if(found->second, [&](const Slot& x) { return x.kind == Slot::Kind::Radio && x.id == e.slot; });
            Release(e.client, out);
        }
    }
}

Bytes Turns::WithoutEcho(const Bytes& data, bool lineQuiet) {
    Bytes all = std::exchange(heldEcho_, {}) + data;
    // Nothing yet says whether the radio echoes: a quiet line that began before the
    // write (the gap after the last answer) must not cancel the echo still to come.
    if (all.empty()) return all;
    const std::size_t n = std::min(all.size(), echo_.size());
    if (n == 0 || all.compare(0, n, echo_, 0, n) != 0) {
        if (n > 0) echoes_ = Echoes::No;
        echo_.clear();  // this radio does not echo, or the echo is over
        return all;
    }
    // Bytes that stop short of the whole echo are held while the line is busy (a
    // slow line brings an echo in pieces); on a quiet line they were an answer. A
    // radio seen not to echo gets them at once (an FT-817's acknowledgement 00 is
    // also how its echo would begin).
    if (n == all.size() && n < echo_.size()) {
        if (lineQuiet || echoes_ == Echoes::No) {
            echo_.clear();
            return all;
        }
        heldEcho_ = std::move(all);
        return {};
    }
    echoes_ = Echoes::Yes;
    echo_.clear();
    EchoGone();  // all of what was held was echo
    return all.substr(n);
}

void Turns::Unasked(const Bytes& data, std::vector<Delivery>& out, bool skipLate) const {
    if (data.empty()) return;
    // A piece that begins with what was said before a client came is not its.
    for (ConnectionId id : joined_)
        if (!noUnasked_.count(id) && !(skipLate && OldAhead(id) > 0)) out.push_back({id, data});
}

std::size_t Turns::OldAhead(ConnectionId id) const {
    const auto late = lateJoiners_.find(id);
    return late == lateJoiners_.end() ? 0 : late->second.inMatcher;
}

// What was gathered before a client came: the matcher's unfinished piece, then the
// held start of an echo. Pieces are cut from the matcher's front; the held echo
// is dropped whole, or passed on whole behind what the matcher holds.
void Turns::PiecesGone(std::size_t n) {
    for (auto it = lateJoiners_.begin(); it != lateJoiners_.end();) {
        it->second.inMatcher -= std::min(it->second.inMatcher, n);
        it = it->second.inMatcher == 0 && it->second.inEcho == 0 ? lateJoiners_.erase(it) : std::next(it);
    }
}

void Turns::EchoPassed() {
    for (auto& [id, late] : lateJoiners_) late.inMatcher += std::exchange(late.inEcho, 0);
}

void Turns::EchoGone() {
    for (auto& [id, late] : lateJoiners_) late.inEcho = 0;
    PiecesGone(0);
}

void Turns::ToHolder(Bytes data, std::vector<Delivery>& out) { ToAsker(holder_, std::move(data), out); }

void Turns::Route(std::vector<cat::AnswerMatcher::Piece> pieces, std::vector<Delivery>& out) {
    for (auto& p : pieces) {
        const std::size_t n = p.bytes.size();
        if (p.answer) {
            // Those awaited before it were passed over: an answer held behind one of
            // them goes before the next piece (a report after it must not overtake it).
            Sweep(out, p.tag);
            ToAsker(p.asker, std::move(p.bytes), out, true, p.tag);
        } else {
            if (Sharing() && Known(matcher_.Speaks()))
                shared_.Unasked(matcher_.Speaks(), matcher_.RadioDialect(), p.bytes, Now());
            Unasked(p.bytes, out, true);
        }
        PiecesGone(n);
    }
    Sweep(out);  // answers passed over were not given
    Listen(out);
}

void Turns::Listen(std::vector<Delivery>& out) {
    if (!Sharing()) return;
    const bool ours = Known(matcher_.Speaks());
    const Bytes held = ours && hearing_ ? matcher_.Held() : Bytes();
    for (cat::SharedReads::Settled& s : shared_.Hearing(hearing_, held, Now())) {
        if (s.answer.empty()) Resend(s.read, s.asker);
        else Copied(s.read, {s.asker.client, std::move(s.answer)}, out);
    }
}

std::vector<Turns::Delivery> Turns::LineQuiet() {
    std::vector<Delivery> out = std::exchange(ready_, {});
    if (!Listening()) return out;
    hearing_ = false;
    Listen(out);
    return out;
}

void Turns::ToAsker(ConnectionId asker, Bytes data, std::vector<Delivery>& out, bool skipLate, uint64_t tag) {
    if (open_ && asker == holder_) answered_ = true;
    uint64_t slot = 0;
    if (const auto e = expected_.find(tag); tag != 0 && e != expected_.end()) {
        slot = e->second.slot;
        // Whole (an answer cut short by the turn limit is still awaited): it serves
        // those that joined its read.
        if (!matcher_.AwaitsTag(tag)) {
            const uint64_t ticket = e->second.ticket;
            expected_.erase(e);
            for (const cat::SharedReads::Copy& copy : shared_.Answered(ticket, data, Now())) Copied(ticket, copy, out);
            for (const cat::SharedReads::Asker& again : shared_.Again()) Resend(ticket, again);
        }
    }
    // Its answer joined to the end of one that an earlier client never got whole:
    // the start is not its.
    const std::size_t skip = skipLate ? std::min(OldAhead(asker), data.size()) : 0;
    if (joined_.count(asker)) Give(asker, data.substr(skip), slot, out, tag);
}

std::vector<Turns::Delivery> Turns::RadioData(const Bytes& data, bool lineQuiet) {
    std::vector<Delivery> out = std::exchange(ready_, {});
    if (!data.empty()) hearing_ = true;
    const bool known = Framed();
    if (!open_) {
        if (!known) {
            Unasked(data, out);
            return out;
        }
        // Answers may still come for a client that left: one begun is kept whole
        // (a radio may pause in the middle of it), as in a turn.
        matcher_.SetLanguage(radioLanguage_);
        Route(matcher_.Feed(data), out);
        if (lineQuiet && !matcher_.HoldingAnswer()) Route(matcher_.Flush(), out);
        return out;
    }
    const std::size_t held = heldEcho_.size();
    Bytes fresh = WithoutEcho(data, lineQuiet);
    // A held start of an echo that proved to be none is at the front of what goes on.
    if (held > 0 && fresh.size() == held + data.size()) {
        if (known) EchoPassed();
        else EchoGone();
    }
    if (!known) {
        // A piece left unfinished in a known language goes first, as it is: the
        // radio's bytes keep their order.
        if (!fresh.empty() && matcher_.Holding()) Route(matcher_.Flush(), out);
        if (!fresh.empty()) ToHolder(std::move(fresh), out);
        return out;
    }
    Route(matcher_.Feed(fresh), out);
    // An unfinished piece that is kept as no awaited answer is unasked output (the
    // tail of a long answer unlike its command's, see HoldingAnswer); one that may
    // be a client's answer is kept until it is whole (or the turn ends).
    if (lineQuiet && !matcher_.HoldingAnswer()) Route(matcher_.Flush(), out);
    return out;
}

bool Turns::AnswerComplete() {
    if (!open_ || !answered_) return false;
    if (Known(turnLanguage_) && matcher_.Awaits(holder_)) return false;
    Close();
    return true;
}

bool Turns::AnswerWaitOver() {
    if (!open_) return false;
    if (Known(turnLanguage_)) {
        // An answer the radio has begun is waited for (up to the turn limit).
        if (matcher_.HoldingAnswer() && matcher_.Awaits(holder_)) return false;
        matcher_.GiveUpMaybe();
        Sweep(ready_);
        if (matcher_.Awaits(holder_)) return false;
    } else if (answered_) {
        return false;
    }
    Close();
    return true;
}

void Turns::Close() {
    open_ = false;
    holder_ = 0;
    answered_ = false;
    echo_.clear();
    heldEcho_.clear();
    EchoGone();
}

bool Turns::AwaitsMaybe() const { return open_ && Known(turnLanguage_) && matcher_.AwaitsMaybe(); }

std::vector<Turns::Delivery> Turns::EndTurn() {
    std::vector<Delivery> out = std::exchange(ready_, {});
    // An answer cut short by the turn limit goes as it is; a piece of unasked output
    // goes on being gathered.
    if (open_ && Known(turnLanguage_) && !matcher_.Done()) Route(matcher_.Flush(), out);
    matcher_.Forget();
    Sweep(out);
    Close();
    return out;
}

std::optional<Turns::Write> Turns::NextParked() {
    while (!open_ && !order_.empty()) {
        const ConnectionId next = order_.front();
        order_.pop_front();
        auto it = parked_.find(next);
        ParkedBlock block = TakeTurn(it->second);
        // What one turn could not take waits behind the others.
        if (it->second.pieces.empty()) parked_.erase(it);
        else order_.push_back(next);
        // The server's own reads are for the radio's word; a departed client's go as they would have.
        if (Sharing() && joined_.count(next)) AnsweredMeanwhile(next, block);
        if (!block.pieces.empty()) return Open(next, std::move(block));
    }
    return std::nullopt;
}

void Turns::AnsweredMeanwhile(ConnectionId from, ParkedBlock& block) {
    std::deque<Piece> kept;
    for (Piece& p : block.pieces) {
        std::optional<Bytes> answer;
        if (p.ticket != 0 && p.answerSlots.size() == 1) answer = shared_.Meanwhile(p.ticket, Now());
        if (!answer) {
            kept.push_back(std::move(p));
            continue;
        }
        block.bytes -= p.bytes.size();
        if (const auto a = asked_.find(from); a != asked_.end()) ++a->second.cached;
        Give(from, std::move(*answer), p.answerSlots[0], ready_);
    }
    block.pieces = std::move(kept);
}

void Turns::Reset() {
    EndTurn();
    matcher_.Clear();
    lateJoiners_.clear();
    parked_.clear();
    order_.clear();
    // Nothing said before the port closed is kept, nor awaited.
    shared_.Close();
    slots_.clear();
    expected_.clear();
    ready_.clear();
    hearing_ = false;
}

void Turns::SetRadioLanguage(cat::Language language) { radioLanguage_ = language; }

Bytes Turns::Parked(ConnectionId id) const {
    Bytes all;
    if (auto it = parked_.find(id); it != parked_.end())
        for (const Piece& p : it->second.pieces) all += p.bytes;
    return all;
}

std::size_t Turns::ParkedBytes(ConnectionId id) const {
    auto it = parked_.find(id);
    return it == parked_.end() ? 0 : it->second.bytes;
}

std::size_t Turns::ParkedCommands(ConnectionId id) const {
    auto it = parked_.find(id);
    return it == parked_.end() ? 0 : it->second.pieces.size();
}

void Turns::DropParked(ConnectionId id) {
    const auto it = parked_.find(id);
    if (it == parked_.end()) return;
    const std::deque<Piece> pieces = std::move(it->second.pieces);
    parked_.erase(it);
    order_.erase(std::find(order_.begin(), order_.end(), id));
    // Its answers will not come: nor the copies of its reads, which others ask anew.
    for (const Piece& p : pieces) {
        GaveUp(p.ticket);
        if (const auto found = slots_.find(id); found != slots_.end()) {
            std::erase_if(found->second, [&](const Slot& x) {
                return x.kind == Slot::Kind::Radio && std::find(p.answerSlots.begin(), p.answerSlots.end(), x.id) != p.answerSlots.end();
            });
            Release(id, ready_);
        }
    }
}

}  // namespace ovrin
