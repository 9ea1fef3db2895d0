#pragma once
#include "app/frmMain.h"

namespace ovrin {

void KeyPTT(frmMain& f);
void ReleasePTT(frmMain& f);
void tmrPTT_Timer(frmMain& f);
void PTTWatchdogCheck(frmMain& f);
// Drops a keyed transmitter when nobody is left to release it, or when its port
// is about to close.
void ReleasePTTIfKeyed(frmMain& f);

}  // namespace ovrin
