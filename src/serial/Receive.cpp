#include "serial/Receive.h"

namespace ovrin {

void RadioDataArrived(frmMain& f) {
    // What the device holds back matters only for when a turn passes to another client.
    const int32_t latency = f.connections.Count() > 1 ? f.comPort.DeliveryLatencyMs() : 0;
    const int gap = f.framing.Arrived(!f.tmrRxBlock.Enabled(), f.comPort.Settings(), latency);
    if (f.tmrRxGap.Interval() != gap) f.tmrRxGap.SetInterval(gap);
    f.tmrRxGap.Stop();
    f.tmrRxGap.Start();
    f.tmrRxBlock.Start();  // a block already growing keeps its age
}

}  // namespace ovrin
