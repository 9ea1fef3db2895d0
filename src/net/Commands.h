#pragma once
// What a client sends, as commands of its language: a command goes to the radio
// whole (its start waits for the rest on the client's own clock), CAT key and
// release commands go through the transmitter, auto-information is kept per
// client, and the rest goes to the turns with the answers it gets.
#include "model/Station.h"

namespace ovrin {

// Data from a client for the radio (what is left of a raw client's read once the
// in-band PTT commands are out; a remote serial port client's data).
void ClientSends(Station& station, Connection& c, const Bytes& data, bool echoed);
// The client's hold ran out, or it is leaving: what is held goes as it is.
void FlushHeld(Station& station, Connection& c);
// It is leaving: what is held goes, and a command of its that the radio holds
// unfinished is ended so that the next client's is not joined to it.
void ClientDeparts(Station& station, Connection& c);
void tmrHold_Timer(Station& station, int16_t Slot);
// The clients' wishes for auto-information written to the radio when they change
// (a client came, said AI, or left).
void RadioAutoInformation(Station& station);

}  // namespace ovrin
