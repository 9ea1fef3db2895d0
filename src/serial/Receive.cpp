#include "serial/Receive.h"

namespace ovrin {

void RadioDataArrived(Station& station) {
    // What the device holds back matters only for when a turn passes to another client.
    const int32_t latency = station.connections.Count() > 1 ? station.comPort.DeliveryLatencyMs() : 0;
    const int gap = station.framing.Arrived(!station.tmrRxBlock.Enabled(), station.comPort.Settings(), latency);
    if (station.tmrRxGap.Interval() != gap) station.tmrRxGap.SetInterval(gap);
    station.tmrRxGap.Stop();
    station.tmrRxGap.Start();
    station.tmrRxBlock.Start();  // a block already growing keeps its age
}

}  // namespace ovrin
