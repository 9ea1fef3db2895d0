#pragma once
// Who may write to the radio's port, and where what the radio says goes. A client's
// block is written when the port is free (or already its own and nobody waits);
// otherwise it is parked, and parked blocks are written in arrival order, one
// block per client per turn. A turn ends when the answer is complete, when the
// radio has said nothing but the echo for the answer wait, or at the turn limit.
// Plain data in and out: the caller owns the port, the sockets and the timers.
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace ovrin {

using Bytes = std::string;
// A connection's identity: never reused while the program runs; 0 is nobody.
using ConnectionId = uint64_t;

class Turns {
public:
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

    void Join(ConnectionId id);
    // What it had parked still goes to the radio in its turn, as it would have had
    // it stayed; a turn it holds runs on without a recipient, so that its answer
    // reaches nobody else.
    void Leave(ConnectionId id);
    // The block to write now, or nothing when it was parked. `echoed`: the radio's
    // echo of it is dropped (a transparent client sees the line as it is).
    std::optional<Write> Submit(ConnectionId from, Bytes data, bool echoed = true);
    // Radio data, the echo of this turn's writes dropped: to the holder while a
    // turn is open, to every client otherwise. `lineQuiet`: the line has gone quiet
    // after them (a block that ends short of the whole echo is then no echo).
    std::vector<Delivery> RadioData(const Bytes& data, bool lineQuiet);
    // The line went quiet: the turn ends if an answer has come.
    bool AnswerComplete();
    // The answer wait passed: the turn ends if nothing but the echo has come.
    bool AnswerWaitOver();
    void EndTurn();
    // The next parked block, opening its turn; only while no turn is open.
    std::optional<Write> NextParked();
    // The port closed: no turn, nothing parked.
    void Reset();
    // A client discards what it has parked.
    void DropParked(ConnectionId id);

    bool TurnOpen() const { return open_; }
    ConnectionId Holder() const { return holder_; }
    bool Answered() const { return answered_; }
    bool AnyParked() const { return !order_.empty(); }
    Bytes Parked(ConnectionId id) const;
    std::size_t Clients() const { return joined_.size(); }

private:
    Write Open(ConnectionId from, Bytes data, bool echoed);
    Bytes WithoutEcho(const Bytes& data, bool lineQuiet);

    std::set<ConnectionId> joined_;
    std::map<ConnectionId, Write> parked_;
    std::deque<ConnectionId> order_;
    bool open_ = false;
    ConnectionId holder_ = 0;
    bool answered_ = false;
    // What the radio may still echo of this turn's writes, and the start of it
    // that has come so far while the line is still busy.
    Bytes echo_;
    Bytes heldEcho_;
};

}  // namespace ovrin
