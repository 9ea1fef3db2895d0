#include "turns/Turns.h"

#include <algorithm>
#include <utility>

namespace ovrin {

void Turns::Join(ConnectionId id) { joined_.insert(id); }

void Turns::Leave(ConnectionId id) { joined_.erase(id); }

std::optional<Turns::Write> Turns::Submit(ConnectionId from, Bytes data, bool echoed) {
    if (data.empty()) return std::nullopt;
    const bool own = open_ && holder_ == from && order_.empty();
    if (own) {
        if (echoed) echo_ += data;
        return Write{from, std::move(data), echoed};
    }
    if (!open_ && order_.empty()) return Open(from, std::move(data), echoed);
    auto [it, added] = parked_.try_emplace(from, Write{from, {}, echoed});
    it->second.data += data;
    if (added) order_.push_back(from);
    return std::nullopt;
}

Turns::Write Turns::Open(ConnectionId from, Bytes data, bool echoed) {
    open_ = true;
    holder_ = from;
    answered_ = false;
    echo_ = echoed ? data : Bytes();
    return Write{from, std::move(data), echoed};
}

Bytes Turns::WithoutEcho(const Bytes& data, bool lineQuiet) {
    Bytes all = std::exchange(heldEcho_, {}) + data;
    const std::size_t n = std::min(all.size(), echo_.size());
    if (n == 0 || all.compare(0, n, echo_, 0, n) != 0) {
        echo_.clear();  // this radio does not echo, or the echo is over
        return all;
    }
    // Bytes that stop short of the whole echo are held while the line is busy (a
    // slow line brings an echo in pieces); on a quiet line they were an answer.
    if (n == all.size() && n < echo_.size()) {
        if (lineQuiet) {
            echo_.clear();
            return all;
        }
        heldEcho_ = std::move(all);
        return {};
    }
    echo_.clear();
    return all.substr(n);
}

std::vector<Turns::Delivery> Turns::RadioData(const Bytes& data, bool lineQuiet) {
    std::vector<Delivery> out;
    if (!open_) {
        if (!data.empty())
            for (ConnectionId id : joined_) out.push_back({id, data});
        return out;
    }
    Bytes answer = WithoutEcho(data, lineQuiet);
    if (answer.empty()) return out;
    answered_ = true;
    if (joined_.count(holder_)) out.push_back({holder_, std::move(answer)});
    return out;
}

bool Turns::AnswerComplete() {
    if (!open_ || !answered_) return false;
    EndTurn();
    return true;
}

bool Turns::AnswerWaitOver() {
    if (!open_ || answered_) return false;
    EndTurn();
    return true;
}

void Turns::EndTurn() {
    open_ = false;
    holder_ = 0;
    answered_ = false;
    echo_.clear();
    heldEcho_.clear();
}

std::optional<Turns::Write> Turns::NextParked() {
    if (open_ || order_.empty()) return std::nullopt;
    const ConnectionId next = order_.front();
    order_.pop_front();
    auto node = parked_.extract(next);
    return Open(next, std::move(node.mapped().data), node.mapped().echoed);
}

void Turns::Reset() {
    EndTurn();
    parked_.clear();
    order_.clear();
}

Bytes Turns::Parked(ConnectionId id) const {
    auto it = parked_.find(id);
    return it == parked_.end() ? Bytes() : it->second.data;
}

void Turns::DropParked(ConnectionId id) {
    if (parked_.erase(id)) order_.erase(std::find(order_.begin(), order_.end(), id));
}

}  // namespace ovrin
