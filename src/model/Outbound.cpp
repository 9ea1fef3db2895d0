#include "model/Outbound.h"

namespace ovrin {
namespace {

int32_t Unsent(frmMain& f, const Connection& c) {
    int32_t waiting = 0;
    TryStep([&] { waiting = f.station.tcpServer(c.slot).BytesToSend(); });
    return waiting;
}

}  // namespace

void SendToClient(frmMain& f, Connection& c, const Bytes& wire) {
    if (wire.empty()) return;
    // What waited before this piece decides, so a client that reads gets any one
    // piece whole, however large.
    if (!c.notReading) {
        if (const int32_t waiting = Unsent(f, c); waiting >= kMaxUnsent) {
            c.notReading = true;
            c.unsentAtBound = waiting;
            f.station.tmrNotReading.Start();
        }
    }
    if (c.notReading) {
        c.dropped += wire.size();
        return;
    }
    const int16_t slot = c.slot;
    if (TryStep([&] { f.station.tcpServer(slot).SendData(wire); })) c.bytesOut += wire.size();
}

bool SendQueueFull(frmMain& f, const Connection& c) { return Unsent(f, c) >= kUnsentPausesReads; }

}  // namespace ovrin
