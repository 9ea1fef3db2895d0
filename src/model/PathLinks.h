#pragma once
// The data path's two ways out, realised over the Station: the serial facility
// (each failing step skipped and told, as every handler's) and the clients'
// sockets (each bounded, as model/Outbound.h says).
#include "path/DataPath.h"

namespace ovrin {

struct Station;

class StationRadioPort final : public RadioPort {
public:
    explicit StationRadioPort(Station& station) : station_(station) {}
    bool IsOpen() override;
    void Write(const Bytes& data) override;
    void Drain(int timeoutMs) override;
    Bytes Input() override;
    int32_t InCount() override;
    int32_t OutCount() override;
    int32_t DeliveryLatencyMs() override;

private:
    Station& station_;
};

class StationClients final : public ClientSink {
public:
    explicit StationClients(Station& station) : station_(station) {}
    void Deliver(ConnectionId to, const Bytes& data) override;
    bool QueueFull(ConnectionId id) override;
    int Count() override;
    bool SoleComPortClient() override;

private:
    Station& station_;
};

}  // namespace ovrin
