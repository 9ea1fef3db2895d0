#pragma once
#include "model/Station.h"

namespace ovrin {

// Radio data are framed as they arrive: each arrival restarts the quiet-gap timer
// tmrRxGap and starts the block-age timer tmrRxBlock. When the gap passes, the block
// is complete; at the age limit what has come is passed on and the block goes on.
void RadioDataArrived(Station& station);

}  // namespace ovrin
