#pragma once
#include "app/frmMain.h"

namespace ovrin {

void TestHostPort(frmMain& f);
void FindFreeSlot(frmMain& f, int16_t& Slot);
void tcpServer_ConnectionRequest(frmMain& f, int16_t Index, int32_t requestID);
void tcpServer_Close(frmMain& f, int16_t Index);
void tcpServer_Error(frmMain& f, int16_t Index);
void CloseConnection(frmMain& f, int16_t Index);
void RefreshRemoteList(frmMain& f);

// VB-style conversion of a text to a 32-bit integer (blanks, sign, digits, a
// fraction rounded half to even); throws when the text is no number or too large.
int32_t ToInt32(const std::string& text);

}  // namespace ovrin
