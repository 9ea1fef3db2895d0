#pragma once
#include "app/frmMain.h"

namespace ovrin {

// Radio data are framed as they arrive: each arrival restarts the quiet-gap timer
// tmrRxGap and starts the block-age timer tmrRxBlock. When the gap passes, the block
// is complete; at the age limit what has come is passed on and the block goes on.
void RadioDataArrived(frmMain& f);

// The quiet gap that ends a block on a line with these settings ("9600,n,8,2"), for
// a device that holds received bytes for up to deliveryLatencyMs; `paced` for a
// block that has come in more than one piece.
int RadioQuietGapMs(const std::string& settings, int32_t deliveryLatencyMs, bool paced);
// One character's time on a line with these settings.
int RadioCharacterMicroseconds(const std::string& settings);

}  // namespace ovrin
