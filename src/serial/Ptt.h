#pragma once
#include "app/frmMain.h"

namespace ovrin {

// Key and release commands of a connection; false when another one owns the key.
bool KeyPTT(frmMain& f, ConnectionId who, int limitMs = kKeyRepeatMs, bool held = false);
bool ReleasePTT(frmMain& f, ConnectionId who);
// The watchdog: a key nobody renewed drops at once, whatever else runs.
void tmrPTT_Timer(frmMain& f);
// Drops a keyed transmitter when nobody is left to release it, or when its port
// is about to close.
void ReleasePTTIfKeyed(frmMain& f);

}  // namespace ovrin
