#include "status/StatusPublisher.h"

#include <utility>

namespace ovrin::status {

StatusPublisher::StatusPublisher(Log& log, std::function<int64_t()> nowMs, std::string address, Open open,
                                 std::function<PageOptions()> options, std::function<StatusSnapshot()> snapshot)
    : log_(log),
      nowMs_(std::move(nowMs)),
      address_(std::move(address)),
      open_(std::move(open)),
      options_(std::move(options)),
      snapshot_(std::move(snapshot)),
      incidents_(log) {
    timer_.SetExact(false);
    timer_.Tick = [this] { Publish(); };
}

void StatusPublisher::Publish() {
    Follow();
    timer_.SetEnabled(server_ != nullptr);
    if (!server_) return;
    server_->Publish(snapshot_());
    incidents_.Add(server_->TakeIncidents(), nowMs_());
}

// A port it cannot take is logged once, not at every tick.
void StatusPublisher::Follow() {
    const PageOptions options = options_();
    if (options.port != port_) {
        if (server_) log_.Line(LogLevel::Info, "Status page on TCP port " + std::to_string(port_) + " closed");
        server_.reset();
        port_ = options.port;
        allowText_.reset();
        if (port_ > 0) Listen(port_);
    }
    if (server_ && allowText_ != options.allow) {
        allowText_ = options.allow;
        server_->Allow(AllowListOfOption(*allowText_));
    }
}

void StatusPublisher::Listen(int port) {
    std::string why;
    std::unique_ptr<PageServer> server = open_(port, why);
    if (!server) {
        log_.Line(LogLevel::Error, "Status page: cannot listen on TCP port " + std::to_string(port) + ": " + why);
        return;
    }
    server_ = std::move(server);
    log_.Line(LogLevel::Info, "Status page (read-only) on TCP port " + std::to_string(port) +
                                  (address_.empty() ? "" : " of " + address_) +
                                  ": / for people, /status.json for scripts");
}

}  // namespace ovrin::status
