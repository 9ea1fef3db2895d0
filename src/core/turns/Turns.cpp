#include "turns/Turns.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace ovrin {

std::vector<Turns::Delivery> Turns::Join(ConnectionId id) {
    std::vector<Delivery> out;
    // An answer still coming (to a client that left) is not cut in two.
    if (matcher_.Done()) Route(matcher_.Flush(), out);
    // A piece begun before it came, still awaited as an answer, is not its either,
    // nor what is held as the possible start of an echo (it may prove not to be).
    if (matcher_.Holding() || !heldEcho_.empty()) lateJoiners_[id] = Late{matcher_.HeldSize(), heldEcho_.size()};
    joined_.insert(id);
    return out;
}

void Turns::Leave(ConnectionId id) {
    joined_.erase(id);
    noUnasked_.erase(id);
    lateJoiners_.erase(id);
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

Turns::Block Turns::TakeTurn(ParkedBlock& parked) {
    Block turn{{}, parked.echoed, parked.language, {}, {}};
    std::size_t answered = 0;
    while (!parked.pieces.empty()) {
        Piece& p = parked.pieces.front();
        std::size_t answers = 0;
        for (const cat::Answer& a : p.answers) answers += a.kind != cat::Answer::Kind::None;
        if (Known(parked.language) && !turn.data.empty() &&
            (answered + answers > kTurnAnswers || turn.data.size() + p.bytes.size() > kTurnBytes))
            break;
        answered += answers;
        parked.bytes -= p.bytes.size();
        turn.data += p.bytes;
        turn.answers.insert(turn.answers.end(), p.answers.begin(), p.answers.end());
        parked.pieces.pop_front();
    }
    return turn;
}

std::optional<Turns::Write> Turns::Submit(ConnectionId from, Block block, bool first) {
    if (block.data.empty()) return std::nullopt;
    ParkedBlock mine{block.echoed, block.language, {}, 0};
    // The holder's further blocks go at once. Past a bound they are written but no
    // longer kept track of, so that what a radio that never answers is awaited to
    // say (and may echo) cannot grow without end, while a long write (a memory
    // upload) still flows at the line's pace. In a known language they go at once
    // only while its answers are all in, so that none is still to come when its
    // turn ends: otherwise they wait for its next turn.
    const bool own = open_ && holder_ == from && order_.empty() && block.language == turnLanguage_ &&
                     !(Known(turnLanguage_) && matcher_.Awaits(from));
    if (own || (!open_ && order_.empty())) {
        Append(mine, std::move(block));
        Block now = TakeTurn(mine);
        if (!mine.pieces.empty()) {  // the rest waits for its next turn
            parked_.emplace(from, std::move(mine));
            order_.push_back(from);
        }
        if (!own) return Open(from, std::move(now));
        const bool tracked = turnBytes_ + now.data.size() <= kMaxTurnBytes;
        if (tracked) {
            turnBytes_ += now.data.size();
            if (now.echoed) echo_ += now.data;
        }
        if (tracked || Known(turnLanguage_)) Await(from, now);
        return Write{from, std::move(now.data), now.echoed};
    }
    auto [it, added] = parked_.try_emplace(from, std::move(mine));
    Append(it->second, std::move(block));
    if (added) {
        if (first) order_.push_front(from);
        else order_.push_back(from);
    }
    return std::nullopt;
}

void Turns::Await(ConnectionId from, const Block& block) {
    for (const cat::Answer& a : block.answers) matcher_.Expect(a, from);
}

Turns::Write Turns::Open(ConnectionId from, Block block) {
    open_ = true;
    holder_ = from;
    answered_ = false;
    turnLanguage_ = block.language;
    turnBytes_ = block.data.size();
    echo_ = block.echoed ? block.data : Bytes();
    if (Known(turnLanguage_)) {
        matcher_.SetLanguage(turnLanguage_);
        Await(from, block);
    }
    return Write{from, std::move(block.data), block.echoed};
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
        if (p.answer) ToAsker(p.asker, std::move(p.bytes), out, true);
        else Unasked(p.bytes, out, true);
        PiecesGone(n);
    }
}

void Turns::ToAsker(ConnectionId asker, Bytes data, std::vector<Delivery>& out, bool skipLate) {
    if (open_ && asker == holder_) answered_ = true;
    // Its answer joined to the end of one that an earlier client never got whole:
    // the start is not its.
    const std::size_t skip = skipLate ? std::min(OldAhead(asker), data.size()) : 0;
    if (joined_.count(asker) && skip < data.size()) out.push_back({asker, data.substr(skip)});
}

std::vector<Turns::Delivery> Turns::RadioData(const Bytes& data, bool lineQuiet) {
    std::vector<Delivery> out;
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
        if (lineQuiet && matcher_.Done()) Route(matcher_.Flush(), out);
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
    // An unfinished piece nobody waits for is unasked output; one a client waits
    // for is kept until it is whole (or the turn ends).
    if (lineQuiet && matcher_.Done()) Route(matcher_.Flush(), out);
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
        if (matcher_.Holding() && matcher_.Awaits(holder_)) return false;
        matcher_.GiveUpMaybe();
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
    std::vector<Delivery> out;
    // An answer cut short by the turn limit goes as it is; a piece of unasked output
    // goes on being gathered.
    if (open_ && Known(turnLanguage_) && !matcher_.Done()) Route(matcher_.Flush(), out);
    matcher_.Forget();
    Close();
    return out;
}

std::optional<Turns::Write> Turns::NextParked() {
    if (open_ || order_.empty()) return std::nullopt;
    const ConnectionId next = order_.front();
    order_.pop_front();
    auto it = parked_.find(next);
    Block block = TakeTurn(it->second);
    // What one turn could not take waits behind the others.
    if (it->second.pieces.empty()) parked_.erase(it);
    else order_.push_back(next);
    return Open(next, std::move(block));
}

void Turns::Reset() {
    EndTurn();
    matcher_.Clear();
    lateJoiners_.clear();
    parked_.clear();
    order_.clear();
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

void Turns::DropParked(ConnectionId id) {
    if (parked_.erase(id)) order_.erase(std::find(order_.begin(), order_.end(), id));
}

}  // namespace ovrin
