#pragma once
// Clients of the remote serial port (Telnet Com Port Control): a second listener
// beside the raw one, whose clients set the line, key the transmitter with RTS
// and read the modem lines as if the radio's port were theirs. Their data pass
// unchanged both ways: no echo filter, no in-band PTT command.
#include "model/Station.h"

namespace ovrin {

// The listener's element in the socket array, after the client slots.
inline constexpr int16_t kComPortListener = kMostClients + 1;

// Listens when a port is set; a failure is logged and the raw port serves on.
void StartComPortListener(Station& station);
void StopComPortListener(Station& station);
bool IsComPortListener(int16_t index);

// A client accepted from that listener gets its protocol and the greeting.
void ComPortClientAccepted(Station& station, Connection& c);
// What such a client sent; false when the stream could not be followed and the
// connection must close.
bool ComPortClientData(Station& station, Connection& c, const Bytes& bytes);
// The lines and the line settings it changed return to what the window sets.
void ComPortClientLeaving(Station& station, Connection& c);

void tmrLineSettle_Timer(Station& station);
void tmrModemLines_Timer(Station& station);

}  // namespace ovrin
