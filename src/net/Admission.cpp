#include "net/Admission.h"

#include "model/Station.h"

namespace ovrin {

bool Admission::Admits(const std::string& allow, const std::string& address) {
    if (allow != allowText_) {
        // Checked when the option was set; were it bad after all, the door stays shut
        // rather than open to everyone.
        std::optional<AllowList> list = AllowListOfOption(allow);
        broken_ = !list;
        allowed_ = list.value_or(AllowList());
        allowText_ = allow;
    }
    if (!broken_ && allowed_.Allows(address)) return true;
    const bool told = logged_.count(address) != 0 || loggedBefore_.count(address) != 0;
    if (!told && logged_.size() < kMaxRemembered) {
        logged_.insert(address);
        timer_.Start();
        log_.Line(LogLevel::Warning, "Client " + (address.empty() ? std::string("?") : address) +
                                         " refused: not on the allow-list (logged once a minute per address)");
    }
    return false;
}

cat::Role AdmittedRole(const std::string& allow, const std::string& address) {
    const std::optional<AllowList> list = AllowListOfOption(allow);
    if (!list) return cat::Role::Monitor;
    return list->RoleOf(address).value_or(cat::Role::Monitor);
}

void Admission::Forget() {
    loggedBefore_ = std::move(logged_);
    logged_.clear();
    if (loggedBefore_.empty()) timer_.Stop();
}

void Door::Guard(Station& station) {
    station.Admits = [this, &station](const std::string& address) { return admission_.Admits(station.settings.options.allow, address); };
}

bool AdmitRequest(Station& station, int32_t requestID) {
    if (!station.Admits) return true;
    std::string address;
    TryStep(station.faults, [&] { address = station.tcpServer.RequestRemoteIP(requestID); });
    return station.Admits(address);
}

}  // namespace ovrin
