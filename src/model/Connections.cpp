#include "model/Connections.h"

namespace ovrin {

Connection& Connections::Open(int16_t slot) {
    Connection& c = slots_.at(static_cast<std::size_t>(slot - 1));
    c = Connection{};
    c.identity = ++accepted_;
    c.slot = slot;
    return c;
}

void Connections::Close(int16_t slot) {
    if (Connection* c = BySlot(slot)) *c = Connection{};
}

Connection* Connections::BySlot(int16_t slot) {
    if (slot < 1 || slot > kMostClients) return nullptr;
    Connection& c = slots_[static_cast<std::size_t>(slot - 1)];
    return c.identity != 0 ? &c : nullptr;
}

Connection* Connections::ById(ConnectionId id) {
    if (id == 0) return nullptr;
    for (Connection& c : slots_)
        if (c.identity == id) return &c;
    return nullptr;
}

ConnectionId Connections::IdOf(int16_t slot) const {
    if (slot < 1 || slot > kMostClients) return 0;
    return slots_[static_cast<std::size_t>(slot - 1)].identity;
}

int Connections::Count() const {
    int n = 0;
    for (const Connection& c : slots_) n += c.identity != 0;
    return n;
}

}  // namespace ovrin
