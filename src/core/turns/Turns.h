#pragma once
// Who may write to the radio's port, and where what the radio says goes. A client's
// block is written when the port is free (or already its own and nobody waits);
// otherwise it is parked, and parked blocks are written in arrival order, one
// block per client per turn.
//
// A block in a command language the turns know (see cat/Cat.h) carries the answers
// its commands get: its turn ends as soon as the last of them is whole, or, for
// commands that get none, once they are on the line; an answer goes to its asker
// the moment it is whole, however late (up to the turn limit), and whatever else
// the radio says meanwhile goes where unasked output goes. A block in no known
// language is framed by the line: its turn ends when the answer is complete (a
// quiet line after it), when the radio has said nothing but the echo for the
// answer wait, or at the turn limit.
//
// Once they have a clock, the turns share reads among the clients (see
// cat/SharedReads.h): a read another client's read already in hand or on its way
// answers is not written again, and each client still gets its answers in the
// order it asked, an answer given without the radio behind those its earlier
// commands await. A key goes ahead of the other clients' parked blocks.
// Plain data in and out: the caller owns the port, the sockets and the timers.
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/Bytes.h"
#include "cat/Cat.h"
#include "cat/SharedReads.h"

namespace ovrin {

// The server's own writes to the radio (a release, auto-information): their
// answers reach nobody.
inline constexpr ConnectionId kServerWrites = ~ConnectionId{0};

class Turns {
public:
    // What of the holder's further blocks is kept track of in its turn (answers
    // awaited, echo); past it they are still written, untracked.
    static constexpr std::size_t kMaxTurnBytes = 32 * 1024;

    struct Write {
        ConnectionId from = 0;
        Bytes data;
        bool echoed = true;
        bool operator==(const Write&) const = default;
    };
    struct Delivery {
        ConnectionId to = 0;
        Bytes data;
        bool operator==(const Delivery&) const = default;
    };
    // What a client gives the port: its bytes, the language they are in, and the
    // answers its commands get, in order.
    struct Block {
        Bytes data;
        bool echoed = true;  // the radio's echo of it is dropped
        cat::Language language = cat::Language::None;
        std::vector<cat::Answer> answers;
        // The length of each command, one per answer; empty: the block is one piece.
        std::vector<std::size_t> sizes;
        void Add(const Bytes& command, const cat::Answer& answer) {
            data += command;
            answers.push_back(answer);
            sizes.push_back(command.size());
        }
    };
    // In a known language a turn writes at most this many commands that get an
    // answer, and this many bytes (at least one command): a client that writes
    // faster than the radio answers waits for its next turn, behind the others,
    // and every turn ends well within the turn limit with its answers in.
    static constexpr std::size_t kTurnAnswers = 8;
    static constexpr std::size_t kTurnBytes = 256;

    // What the radio said before a client came is not for it: a piece of unasked
    // output still being gathered goes to the others first.
    std::vector<Delivery> Join(ConnectionId id);
    // What it had parked still goes to the radio in its turn, as it would have had
    // it stayed; its answer reaches nobody else: a turn it holds runs on without a
    // recipient, or, in a known language, ends at once (its answers are told
    // apart from the next ones).
    void Leave(ConnectionId id);
    // Whether what the radio says unasked reaches this client (a client that
    // turned auto-information off gets none of it).
    void SetUnaskedWanted(ConnectionId id, bool wanted);

    // The block to write now, or nothing when it was parked. `first`: parked
    // ahead of the others (a release of the transmitter).
    std::optional<Write> Submit(ConnectionId from, Block block, bool first = false);
    // A block in no language (framed by the line).
    std::optional<Write> Submit(ConnectionId from, Bytes data, bool echoed = true);
    // Radio data, the echo of this turn's writes dropped: the answers to the
    // holder, the rest to every client that takes unasked output. `lineQuiet`:
    // the line has gone quiet after them.
    std::vector<Delivery> RadioData(const Bytes& data, bool lineQuiet);
    // Radio data came or the line went quiet: the turn ends if its answers are in.
    bool AnswerComplete();
    // The answer wait passed (for a block whose commands get no answer: the time
    // they take on the line): the turn ends if nothing it surely gets is missing.
    bool AnswerWaitOver();
    // Reads wait for what the radio is saying (see cat::SharedReads::Hearing).
    bool Listening() const { return shared_.Waiting(); }
    // The radio has said nothing for long enough: what it began to say and did not
    // finish is not waited for (the reads that waited for it go to the radio: see
    // AnyParked).
    std::vector<Delivery> LineQuiet();
    // The turn limit: what is held of an answer goes to the holder as it is.
    std::vector<Delivery> EndTurn();
    // The next parked block, opening its turn; only while no turn is open. Its
    // reads answered while they waited are not written (see TakeReady).
    std::optional<Write> NextParked();
    // The port closed: no turn, nothing parked.
    void Reset();
    // A client discards what it has parked.
    void DropParked(ConnectionId id);

    // Reads are shared from now on, on this clock (milliseconds, never going back).
    void SetClock(std::function<uint64_t()> clock) { clock_ = std::move(clock); }
    cat::SharedReads& Shared() { return shared_; }
    const cat::SharedReads& Shared() const { return shared_; }
    // The transmitter was keyed or released other than by a command.
    void Changed() { shared_.Changed(); }
    // Answers given without the radio since the last call (or the last RadioData,
    // EndTurn or Join, which carry them too), in each asker's order.
    std::vector<Delivery> TakeReady() { return std::exchange(ready_, {}); }

    // What a client asked while reads are shared: its commands, how many of them
    // were answered from a read in hand or merged into one on its way, and the
    // last few different ones (cat::Describe).
    struct Asked {
        uint64_t commands = 0, cached = 0, joined = 0;
        std::vector<std::string> recent;
        bool operator==(const Asked&) const = default;
    };
    static constexpr std::size_t kRecentAsked = 6;
    Asked AskedBy(ConnectionId id) const;
    // Commands written to the radio over the last kRateWindowMs, per second.
    static constexpr uint64_t kRateWindowMs = 10000;
    double CommandsPerSecond();

    // The language the radio speaks, for what it says while no turn is open.
    void SetRadioLanguage(cat::Language language);
    cat::Language RadioLanguage() const { return radioLanguage_; }
    // Answers are recognised as they come, without waiting for a quiet line.
    bool Framed() const { return Known(open_ ? turnLanguage_ : radioLanguage_); }
    // The open turn's block waits for answers the tables could not place: the
    // answer wait applies to it.
    bool AwaitsMaybe() const;
    // The open turn is in a known language.
    bool TurnKnown() const { return open_ && Known(turnLanguage_); }
    cat::Dialect RadioDialect() const { return matcher_.RadioDialect(); }
    // The echo this turn still awaits to drop (bounded by kMaxTurnBytes).
    std::size_t EchoAwaited() const { return echo_.size(); }

    bool TurnOpen() const { return open_; }
    ConnectionId Holder() const { return holder_; }
    bool Answered() const { return answered_; }
    bool AnyParked() const { return !order_.empty(); }
    Bytes Parked(ConnectionId id) const;
    std::size_t ParkedBytes(ConnectionId id) const;
    std::size_t ParkedCommands(ConnectionId id) const;
    std::size_t Clients() const { return joined_.size(); }

private:
    // A parked client's commands, each with the answers it gets (in no language, or
    // when the block did not say where its commands end, one piece per block).
    struct Piece {
        Bytes bytes;
        std::vector<cat::Answer> answers;
        // Sharing: the one command it is (otherwise the tables cannot judge it),
        // the ticket of the shared read it is, and its place among its writer's
        // answers (0: it has none there).
        std::optional<cat::Command> command{};
        uint64_t ticket = 0;
        std::vector<uint64_t> answerSlots{};  // one per answer
    };
    struct ParkedBlock {
        bool echoed = true;
        cat::Language language = cat::Language::None;
        std::deque<Piece> pieces;
        std::size_t bytes = 0;
    };
    static void Append(ParkedBlock& parked, Block block);
    // The pieces that one turn writes: in a known language within the turn's bounds,
    // otherwise all of them.
    static ParkedBlock TakeTurn(ParkedBlock& parked);
    static Bytes DataOf(const ParkedBlock& turn);
    Write Open(ConnectionId from, ParkedBlock turn);
    void Await(ConnectionId from, const ParkedBlock& turn);
    // Sharing: each command asked of the shared reads as it comes; those answered
    // without the radio leave the block. True when one of them keys or releases.
    bool Share(ConnectionId from, ParkedBlock& block);
    // The radio has begun the answer to this shared read: one who asks now would
    // get bytes said before it asked.
    bool AnswerBegun(uint64_t ticket) const;
    // Reads of the block the radio answered for others while they were parked
    // leave it, answered (see cat::SharedReads::Meanwhile).
    void AnsweredMeanwhile(ConnectionId from, ParkedBlock& block);
    // A command that may change what is stored drops it again as it is written.
    void Written(ConnectionId from, const ParkedBlock& turn);
    bool Sharing() const { return static_cast<bool>(clock_); }
    uint64_t Now() const { return clock_ ? clock_() : 0; }
    // An answer for a client, in its place among the answers it awaits.
    void Give(ConnectionId to, Bytes data, uint64_t slot, std::vector<Delivery>& out, uint64_t tag = 0);
    void Release(ConnectionId to, std::vector<Delivery>& out);
    // Answers no longer awaited that never came (those tagged before `before`):
    // their joiners ask anew.
    void Sweep(std::vector<Delivery>& out, uint64_t before = ~uint64_t{0});
    void Resend(uint64_t ticket, const cat::SharedReads::Asker& asker);
    void Copied(uint64_t ticket, const cat::SharedReads::Copy& copy, std::vector<Delivery>& out);
    // A read written for others too whose answer will not come.
    void GaveUp(uint64_t ticket);
    // Reads that waited for what the radio is saying, now answered or sent anew.
    void Listen(std::vector<Delivery>& out);
    // The turn is over; answers still awaited of a client that left stay awaited.
    void Close();
    void ToAsker(ConnectionId asker, Bytes data, std::vector<Delivery>& out, bool skipLate = false, uint64_t tag = 0);
    // How much of the matcher's front was said before this client came.
    std::size_t OldAhead(ConnectionId id) const;
    void Route(std::vector<cat::AnswerMatcher::Piece> pieces, std::vector<Delivery>& out);
    Bytes WithoutEcho(const Bytes& data, bool lineQuiet);
    void Unasked(const Bytes& data, std::vector<Delivery>& out, bool skipLate = false) const;
    void PiecesGone(std::size_t n);
    void EchoPassed();
    void EchoGone();
    void ToHolder(Bytes data, std::vector<Delivery>& out);

    std::set<ConnectionId> joined_;
    std::set<ConnectionId> noUnasked_;
    // Per client that came while radio bytes were being gathered (a piece not yet
    // whole, a possible echo): how many of them still lie ahead of what it may get.
    struct Late {
        std::size_t inMatcher = 0, inEcho = 0;
    };
    std::map<ConnectionId, Late> lateJoiners_;
    std::map<ConnectionId, ParkedBlock> parked_;
    std::deque<ConnectionId> order_;
    bool open_ = false;
    ConnectionId holder_ = 0;
    bool answered_ = false;
    cat::Language turnLanguage_ = cat::Language::None;
    cat::Language radioLanguage_ = cat::Language::None;
    cat::AnswerMatcher matcher_;
    // What the radio may still echo of this turn's writes, and the start of it
    // that has come so far while the line is still busy.
    Bytes echo_;
    std::size_t turnBytes_ = 0;  // written in the open turn
    Bytes heldEcho_;
    // Whether the radio was seen to echo what is written to it.
    enum class Echoes : uint8_t { Unknown, Yes, No } echoes_ = Echoes::Unknown;

    // Sharing. What a client awaits, in the order it asked: its own answer from the
    // radio (by slot), a copy of another's read (by ticket), or one already in hand.
    struct Slot {
        enum class Kind : uint8_t { Radio, Joined, Ready } kind = Kind::Radio;
        uint64_t id = 0;
        Bytes data;
        bool written = false;  // Radio: its command is on its way
        // Joined: how to ask it anew should the read it joined get no answer.
        cat::Language language = cat::Language::None;
        bool echoed = true;
    };
    std::map<ConnectionId, std::deque<Slot>> slots_;
    // The answers written and awaited, by the matcher's tag.
    struct Expected {
        ConnectionId client = 0;
        uint64_t ticket = 0, slot = 0;
    };
    std::map<uint64_t, Expected> expected_;
    uint64_t nextTag_ = 1, nextSlot_ = 1;
    std::vector<Delivery> ready_;
    bool hearing_ = false;  // radio bytes came since LineQuiet
    std::map<ConnectionId, Asked> asked_;
    std::deque<uint64_t> writtenAt_;  // when each command went, over the last kRateWindowMs
    cat::SharedReads shared_;
    std::function<uint64_t()> clock_;
};

}  // namespace ovrin
