#pragma once
// The traffic between the clients and the radio: client blocks submitted for a
// turn at the port, radio blocks delivered by the turns, and the timers that end
// a turn. The turns decide; this carries the bytes.
#include "model/Station.h"

namespace ovrin {

// A client's block for the port: written now, or parked for its turn. `first`:
// ahead of what is parked (a release of the transmitter).
void SubmitToPort(Station& station, ConnectionId from, Turns::Block block, bool first = false);
// Bytes in no language; `echoed`: the radio's echo of them is dropped (not for a
// remote serial port client).
void SubmitToPort(Station& station, ConnectionId from, Bytes data, bool echoed = true);
// The transmitter's release of a CAT key: `now`, written and drained before the
// port closes; otherwise ahead of whatever waits for the port.
void WriteCatRelease(Station& station, const Bytes& release, bool now);
void DispatchNextPending(Station& station);
void tmrActivePort_Timer(Station& station);
void tmrAnswerWait_Timer(Station& station);
// A radio block ends with a quiet line, or is cut at its age limit.
void tmrRxGap_Timer(Station& station);
void tmrRxBlock_Timer(Station& station);
// Bytes came from the radio: a lone remote serial port client gets them at once,
// otherwise they join the block being framed.
void RadioBytesCame(Station& station);
// The receive poll's part: bytes that came without an arrival event.
void PollRadio(Station& station);
// The receive poll is a safety net for the arrival and drain events: quick while
// a client's read waits for the serial line, slow otherwise, so that a connected
// client that sends nothing costs nothing.
inline constexpr int kBusyPollMs = 50, kIdlePollMs = 1000;
void PaceReceivePoll(Station& station);
// A connection joins the turns when accepted; when it goes, the turn it held ends
// (in a known language) and what it parked still goes.
void ConnectionJoined(Station& station, ConnectionId id);
void ConnectionLeft(Station& station, ConnectionId id);
// The port was opened afresh or closed: what it held belongs to nobody.
void PortTurnsReset(Station& station);

}  // namespace ovrin
