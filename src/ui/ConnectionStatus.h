#pragma once
#include "model/frmMain.h"

namespace ovrin {

void cboConn_Click(frmMain& f);
void imgConn_Click(frmMain& f);
void txtHostPort_KeyUp(frmMain& f);
void RefreshControlState(frmMain& f);
// The PTT box is red while the transmitter is keyed.
void ShowTransmitter(frmMain& f);

}  // namespace ovrin
