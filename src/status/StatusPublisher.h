#pragma once
// The status page as the running program keeps it: a snapshot published from the
// event loop a few times a second and at every change of the server's state, to a
// server that renders it on threads of its own; the server opened on the status
// port option and moved when it changes, its door following the allow option
// (one that cannot be read lets nobody in); what visitors did wrong reaches the
// log once a minute. Without a port nothing ticks.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "allow/AllowList.h"
#include "platform/Log.h"
#include "platform/Timer.h"
#include "status/Incidents.h"
#include "status/StatusSnapshot.h"

namespace ovrin::status {

// What the publisher needs of an HTTP server (StatusServer is the real one).
class PageServer {
public:
    virtual ~PageServer() = default;
    virtual void Publish(StatusSnapshot snapshot) = 0;
    // Nothing: nobody may visit; an empty list: everyone.
    virtual void Allow(std::optional<AllowList> allowed) = 0;
    virtual IncidentCounts TakeIncidents() = 0;
};

// The options the page follows.
struct PageOptions {
    int port = 0;       // 0: no page
    std::string allow;  // the allow option's text
};

class StatusPublisher {
public:
    static constexpr int kPublishMs = 250;
    // A server listening on the port, or nothing and why not.
    using Open = std::function<std::unique_ptr<PageServer>(int port, std::string& why)>;

    StatusPublisher(Log& log, std::function<int64_t()> nowMs, std::string address, Open open,
                    std::function<PageOptions()> options, std::function<StatusSnapshot()> snapshot);
    StatusPublisher(const StatusPublisher&) = delete;
    StatusPublisher& operator=(const StatusPublisher&) = delete;

    // The platform binds its backend to it; it ticks only while a page is served.
    Timer& PublishTimer() { return timer_; }
    // Follows the options and publishes: at each tick, and whenever the caller
    // knows the state changed.
    void Publish();

private:
    void Follow();
    void Listen(int port);

    Log& log_;
    std::function<int64_t()> nowMs_;
    std::string address_;
    Open open_;
    std::function<PageOptions()> options_;
    std::function<StatusSnapshot()> snapshot_;
    IncidentLog incidents_;
    int port_ = 0;
    std::optional<std::string> allowText_;
    std::unique_ptr<PageServer> server_;
    Timer timer_{"tmrStatusPage", kPublishMs, false};
};

}  // namespace ovrin::status
