#pragma once
// The status page's HTTP server (cpp-httplib) on threads of its own. It serves only
// what the event loop last published: it never calls into the running system, so
// nothing a visitor does reaches the radio, and a slow or flooding visitor costs
// the loop nothing but the snapshot it publishes anyway. The allow-list is checked
// before a byte is read; every request is bounded in size and time, and so are
// the connections served at once. What visitors did wrong is counted for the
// loop to log.
#include <memory>
#include <optional>
#include <string>

#include "allow/AllowList.h"
#include "status/Incidents.h"
#include "status/StatusPublisher.h"
#include "status/StatusSnapshot.h"

namespace ovrin::status {

struct ServerLimits {
    int workers = 6;              // connections served at once
    int waiting = 16;             // accepted connections waiting for a worker
    int perAddress = 3;           // connections served at once for one address
    std::size_t requestBytes = 8192;  // a request's line and headers
    int requestMs = 5000;         // from a request's first byte to its last
    int idleMs = 2000;            // a kept-alive connection's wait for the next request
};

class StatusServer final : public PageServer {
public:
    // Nobody is let in until the loop gives the allow-list.
    explicit StatusServer(ServerLimits limits = {});
    ~StatusServer() override;  // stops, closing every connection at once
    StatusServer(const StatusServer&) = delete;
    StatusServer& operator=(const StatusServer&) = delete;

    // Listens on the address (empty: every address, IPv6 and IPv4) and port, and
    // serves from then on; "" or why it cannot.
    std::string Start(const std::string& address, int port);
    // The port it listens on (the one given, or the system's pick for 0).
    int Port() const;

    // From the event loop: what the page shows from now on.
    void Publish(StatusSnapshot snapshot) override;
    // From the event loop: who may visit from now on (nothing: nobody, as for an
    // allow option found bad; an empty list: everyone).
    void Allow(std::optional<AllowList> allowed) override;
    // From the event loop: what visitors did wrong since the last call.
    IncidentCounts TakeIncidents() override;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace ovrin::status
