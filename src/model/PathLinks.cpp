#include "model/PathLinks.h"

#include "model/Outbound.h"
#include "model/Station.h"

namespace ovrin {

bool StationRadioPort::IsOpen() { return station_.comPort.PortOpen(); }

void StationRadioPort::Write(const Bytes& data) {
    TryStep(station_.faults, [&] { station_.comPort.Output(data); });
    station_.WroteToRadio(data);
}

void StationRadioPort::Drain(int timeoutMs) {
    TryStep(station_.faults, [&] { station_.comPort.Drain(timeoutMs); });
}

Bytes StationRadioPort::Input() {
    Bytes data;
    TryStep(station_.faults, [&] { data = station_.comPort.Input(); });
    if (!data.empty()) station_.HeardFromRadio(data);
    return data;
}

int32_t StationRadioPort::InCount() {
    int32_t count = 0;
    TryStep(station_.faults, [&] { count = station_.comPort.InBufferCount(); });
    return count;
}

int32_t StationRadioPort::OutCount() {
    int32_t count = 0;
    TryStep(station_.faults, [&] { count = station_.comPort.OutBufferCount(); });
    return count;
}

int32_t StationRadioPort::DeliveryLatencyMs() {
    int32_t ms = 0;
    TryStep(station_.faults, [&] { ms = station_.comPort.DeliveryLatencyMs(); });
    return ms;
}

void StationClients::Deliver(ConnectionId to, const Bytes& data) {
    if (Connection* c = station_.connections.ById(to)) SendToClient(station_, *c, c->ForWire(data));
}

bool StationClients::QueueFull(ConnectionId id) {
    const Connection* c = station_.connections.ById(id);
    return c && SendQueueFull(station_, *c);
}

int StationClients::Count() { return station_.connections.Count(); }

bool StationClients::SoleComPortClient() {
    if (station_.connections.Count() != 1) return false;
    bool comPort = false;
    station_.connections.ForEach([&](Connection& c) { comPort = c.IsComPortClient(); });
    return comPort;
}

}  // namespace ovrin
