#include "serial/Ptt.h"

namespace ovrin {

bool KeyPTT(frmMain& f, ConnectionId who, int limitMs) { return f.transmitter.Key(who, limitMs); }

bool ReleasePTT(frmMain& f, ConnectionId who) { return f.transmitter.Release(who); }

void tmrPTT_Timer(frmMain& f) { f.transmitter.WatchdogExpired(); }

void ReleasePTTIfKeyed(frmMain& f) { f.transmitter.Drop(); }

}  // namespace ovrin
