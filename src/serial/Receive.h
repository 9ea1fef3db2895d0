#pragma once
#include "app/frmMain.h"

namespace ovrin {

void tmrRx_Timer(frmMain& f);
void tmrActivePort_Timer(frmMain& f);
void SubmitToPort(frmMain& f, int16_t Index);
void DispatchNextPending(frmMain& f);

}  // namespace ovrin
