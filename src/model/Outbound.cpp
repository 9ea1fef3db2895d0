#include "model/Outbound.h"

namespace ovrin {
namespace {

int32_t Unsent(Station& station, const Connection& c) {
    int32_t waiting = 0;
    TryStep(station.faults, [&] { waiting = station.tcpServer(c.slot).BytesToSend(); });
    return waiting;
}

}  // namespace

void SendToClient(Station& station, Connection& c, const Bytes& wire) {
    if (wire.empty()) return;
    // What waited before this piece decides, so a client that reads gets any one
    // piece whole, however large.
    if (!c.notReading) {
        if (const int32_t waiting = Unsent(station, c); waiting >= kMaxUnsent) {
            c.notReading = true;
            c.unsentAtBound = waiting;
            station.tmrNotReading.Start();
        }
    }
    if (c.notReading) {
        c.dropped += wire.size();
        return;
    }
    const int16_t slot = c.slot;
    if (TryStep(station.faults, [&] { station.tcpServer(slot).SendData(wire); })) c.bytesOut += wire.size();
}

bool SendQueueFull(Station& station, const Connection& c) { return Unsent(station, c) >= kUnsentPausesReads; }

}  // namespace ovrin
