#pragma once
#include "app/frmMain.h"

namespace ovrin {

void KeyPTT(frmMain& f);
void ReleasePTT(frmMain& f);
void tmrPTT_Timer(frmMain& f);
void PTTWatchdogCheck(frmMain& f);
// Drops a keyed transmitter when nobody is left to release it (the receive poll,
// which runs the watchdog, is being stopped with the watchdog armed).
void ReleasePTTIfUnattended(frmMain& f);

}  // namespace ovrin
