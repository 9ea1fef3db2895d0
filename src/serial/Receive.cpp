#include "serial/Receive.h"

namespace ovrin {

void RadioDataArrived(frmMain& f) {
    // What the device holds back matters only for when a turn passes to another client.
    const int32_t latency = f.station.connections.Count() > 1 ? f.station.comPort.DeliveryLatencyMs() : 0;
    const int gap = f.station.framing.Arrived(!f.station.tmrRxBlock.Enabled(), f.station.comPort.Settings(), latency);
    if (f.station.tmrRxGap.Interval() != gap) f.station.tmrRxGap.SetInterval(gap);
    f.station.tmrRxGap.Stop();
    f.station.tmrRxGap.Start();
    f.station.tmrRxBlock.Start();  // a block already growing keeps its age
}

}  // namespace ovrin
