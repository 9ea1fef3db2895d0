#include "net/Admission.h"

#include "model/frmMain.h"

namespace ovrin {

bool Admission::Admits(const std::string& address) {
    if (allowed_.Allows(address)) return true;
    const bool told = logged_.count(address) != 0 || loggedBefore_.count(address) != 0;
    if (!told && logged_.size() < kMaxRemembered) {
        logged_.insert(address);
        timer_.Start();
        log_.Line(LogLevel::Warning, "Client " + (address.empty() ? std::string("?") : address) +
                                         " refused: not on the allow-list (logged once a minute per address)");
    }
    return false;
}

void Admission::Forget() {
    loggedBefore_ = std::move(logged_);
    logged_.clear();
    if (loggedBefore_.empty()) timer_.Stop();
}

bool AdmitRequest(frmMain& f, int32_t requestID) {
    if (!f.Admits) return true;
    std::string address;
    TryStep([&] { address = f.tcpServer.RequestRemoteIP(requestID); });
    return f.Admits(address);
}

}  // namespace ovrin
