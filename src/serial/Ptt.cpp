#include "serial/Ptt.h"

namespace ovrin {

bool KeyPTT(frmMain& f, ConnectionId who, int limitMs, bool held) { return f.transmitter.Key(who, limitMs, held); }

bool ReleasePTT(frmMain& f, ConnectionId who) { return f.transmitter.Release(who); }

void tmrPTT_Timer(frmMain& f) { f.transmitter.WatchdogExpired(); }

void ReleasePTTIfKeyed(frmMain& f) { f.transmitter.Drop(); }

}  // namespace ovrin
