#pragma once
#include "app/frmMain.h"

namespace ovrin {

void TestHostPort(frmMain& f);
void FindFreeSlot(frmMain& f, int16_t& Slot);
void tcpServer_ConnectionRequest(frmMain& f, int16_t Index, int32_t requestID);
void tcpServer_Close(frmMain& f, int16_t Index);
void tcpServer_Error(frmMain& f, int16_t Index, const std::string& Description);
void CloseConnection(frmMain& f, int16_t Index);
void RefreshRemoteList(frmMain& f);
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
