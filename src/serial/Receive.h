#pragma once
#include "app/frmMain.h"

namespace ovrin {

// Radio data are framed as they arrive: each arrival restarts the quiet-gap timer
// tmrRxGap and starts the block-age timer tmrRxBlock. When the gap passes, the block
// is complete and the turn passes; at the age limit what has come is passed on and
// the block goes on.
void comPort_OnComm(frmMain& f, CommEvent Event);
void RadioDataArrived(frmMain& f);
void tmrRxGap_Timer(frmMain& f);
void tmrRxBlock_Timer(frmMain& f);
// The PTT watchdog, and a block started for bytes that came without an event.
void tmrRx_Timer(frmMain& f);
void tmrActivePort_Timer(frmMain& f);
void SubmitToPort(frmMain& f, int16_t Index);
void DispatchNextPending(frmMain& f);

// The quiet gap that ends a block on a line with these settings ("9600,n,8,2"), for
// a device that holds received bytes for up to deliveryLatencyMs; `paced` for a
// block that has come in more than one piece.
int RadioQuietGapMs(const std::string& settings, int32_t deliveryLatencyMs, bool paced);

}  // namespace ovrin
