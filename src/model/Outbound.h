#pragma once
// What goes to a client. The socket facility holds what the system cannot take
// yet; for a client that reads nothing that grows as long as the radio talks or the
// client asks, so it is bounded per client: past kUnsentPausesReads its reads
// pause (its requests wait in its socket, and TCP slows it down), and past
// kMaxUnsent it is taken for a client that does not read at all: nothing more is
// queued for it, what was meant for it is counted, and it is closed (tmrNotReading)
// with a log line saying why. The radio cannot be paused for one client.
#include <cstdint>

#include "model/Station.h"

namespace ovrin {

inline constexpr int32_t kUnsentPausesReads = 32 * 1024;
// Above what one read's answers can add to kUnsentPausesReads (a 64 KiB read of
// the shortest remote serial port request, answered with our signature), so a
// client that asks and never reads is paused, not closed.
inline constexpr int32_t kMaxUnsent = 384 * 1024;

// Sends to the client; past the bound, drops and counts instead.
void SendToClient(Station& station, Connection& c, const Bytes& wire);
// Its reads wait until what waits for it has gone.
bool SendQueueFull(Station& station, const Connection& c);

}  // namespace ovrin
