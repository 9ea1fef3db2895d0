#pragma once
#include "model/frmMain.h"

namespace ovrin {

// Whether the port typed in txtHostPort can be listened on (tried, then closed);
// when not, says why in a box.
bool TestHostPort(frmMain& f);
// The server's transitions with their effects. Listen: the listener and, when kept
// active, the serial port (Off-line again when either fails); nothing when not
// Off-line. Off-line: every client, the listeners and the serial port closed.
void StartListening(frmMain& f);
void GoOffLine(frmMain& f);
void FindFreeSlot(frmMain& f, int16_t& Slot);
void tcpServer_ConnectionRequest(frmMain& f, int16_t Index, int32_t requestID);
void tcpServer_Close(frmMain& f, int16_t Index);
void tcpServer_Error(frmMain& f, int16_t Index, const std::string& Description);
// A listener could not take a connection (descriptors used up, say): nobody left,
// the listener goes on. Logged at most once a minute, with the count since.
void tcpServer_AcceptFailed(frmMain& f, int16_t Index, const std::string& Description);
inline constexpr int64_t kAcceptFailureLogMs = 60000;
void CloseConnection(frmMain& f, int16_t Index);
// While a client holds the transmitter keyed, its connection is checked for a
// vanished peer within seconds.
void WatchTheKeyer(frmMain& f);
// "Client 198.51.100.7 (slot 1)", for the log.
std::string ClientLabel(frmMain& f, int16_t Index);
// The port element 0 listens on (or last did), as text.
std::string ListenerPortText(frmMain& f);
// A client is connected in this slot.
bool SlotConnected(frmMain& f, int16_t Slot);

}  // namespace ovrin
