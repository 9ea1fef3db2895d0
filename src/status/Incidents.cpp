#include "status/Incidents.h"

namespace ovrin::status {
namespace {

struct Wording {
    const char* one;   // "a malformed request from ADDRESS"
    const char* many;  // "N malformed requests"
    const char* what;  // what was done, and why
};

constexpr std::array<Wording, kIncidentKinds> kWording{{
    {"a visitor from ", " visitors", " refused: not on the allow-list"},
    {"a malformed request from ", " malformed requests", " refused"},
    {"an oversized request from ", " oversized requests", " refused"},
    {"a request from ", " requests", " closed: too slow"},
    {"a visitor from ", " visitors", " turned away: too many connections at once"},
}};

}  // namespace

void IncidentLog::Add(const IncidentCounts& fresh, int64_t nowMs) {
    for (std::size_t i = 0; i < kIncidentKinds; ++i) {
        pending_.count[i] += fresh.count[i];
        if (fresh.count[i]) pending_.lastAddress[i] = fresh.lastAddress[i];
        if (!pending_.count[i] || (writtenMs_[i] >= 0 && nowMs - writtenMs_[i] < kQuietMs)) continue;
        const Wording& w = kWording[i];
        const std::string& address = pending_.lastAddress[i].empty() ? "?" : pending_.lastAddress[i];
        const std::string text =
            pending_.count[i] == 1
                ? std::string("Status page: ") + w.one + address + w.what
                : "Status page: " + std::to_string(pending_.count[i]) + w.many + w.what + ", the last from " + address;
        log_.Line(LogLevel::Warning, text + " (logged once a minute)");
        writtenMs_[i] = nowMs;
        pending_.count[i] = 0;
    }
}

}  // namespace ovrin::status
