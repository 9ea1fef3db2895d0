#pragma once
// The window's side of the station: the boxes the user sets, and the lists and
// tool tips that show what the server found (the ports there are, the clients'
// addresses, a problem of the serial port).
#include "model/frmMain.h"

namespace ovrin {

// The ports there are in the port list, without opening them.
void ListComPorts(frmMain& f);
// The station's port problem in the status control's and the status picture's
// tool tips ("" clears them).
void ShowPortProblem(frmMain& f);
// The connected clients' addresses in the remote address list.
void RefreshRemoteList(frmMain& f);

void chkComPortActiveInListen_Click(frmMain& f);
void chkCtrlPTT_Click(frmMain& f);
void chkRTS_Click(frmMain& f);
void chkDTR_Click(frmMain& f);

}  // namespace ovrin
