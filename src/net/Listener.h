#pragma once
#include "model/Station.h"

namespace ovrin {

// Whether the port typed in txtHostPort can be listened on (tried, then closed);
// when not, says why in a box.
bool TestHostPort(Station& station);
// The server's transitions with their effects. Listen: the listener and, when kept
// active, the serial port (Off-line again when either fails); nothing when not
// Off-line. Off-line: every client, the listeners and the serial port closed.
void StartListening(Station& station);
void GoOffLine(Station& station);
void FindFreeSlot(Station& station, int16_t& Slot);
void tcpServer_ConnectionRequest(Station& station, int16_t Index, int32_t requestID);
void tcpServer_Close(Station& station, int16_t Index);
void tcpServer_Error(Station& station, int16_t Index, const std::string& Description);
// A listener could not take a connection (descriptors used up, say): nobody left,
// the listener goes on. Logged at most once a minute, with the count since.
void tcpServer_AcceptFailed(Station& station, int16_t Index, const std::string& Description);
inline constexpr int64_t kAcceptFailureLogMs = 60000;
void CloseConnection(Station& station, int16_t Index);
// While a client holds the transmitter keyed, its connection is checked for a
// vanished peer within seconds.
void WatchTheKeyer(Station& station);
// "Client 198.51.100.7 (slot 1)", for the log.
std::string ClientLabel(Station& station, int16_t Index);
// The port element 0 listens on (or last did), as text.
std::string ListenerPortText(Station& station);
// A client is connected in this slot.
bool SlotConnected(Station& station, int16_t Slot);

}  // namespace ovrin
