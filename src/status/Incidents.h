#pragma once
// What the status page's visitors did that the operator should hear of: the server
// threads count it, and the event loop writes it to the log at most once a minute
// per kind, so a scan or a flood cannot fill the log or slow the loop.
#include <array>
#include <cstdint>
#include <string>

#include "platform/Log.h"

namespace ovrin::status {

enum class Incident {
    Refused,    // its address is not on the allow-list: closed before a byte
    Malformed,  // not an HTTP request
    Oversized,  // a request larger than the page ever needs
    Slow,       // a request that took longer than any browser takes
    Crowded,    // more connections at once than the page serves
};
inline constexpr std::size_t kIncidentKinds = 5;

struct IncidentCounts {
    std::array<uint64_t, kIncidentKinds> count{};
    std::array<std::string, kIncidentKinds> lastAddress;

    void Add(Incident kind, const std::string& address) {
        const auto i = static_cast<std::size_t>(kind);
        ++count[i];
        lastAddress[i] = address;
    }
    bool Empty() const {
        for (uint64_t n : count)
            if (n) return false;
        return true;
    }
};

class IncidentLog {
public:
    static constexpr int64_t kQuietMs = 60000;

    explicit IncidentLog(Log& log) : log_(log) {}
    // Counts taken from the server at `nowMs` (a monotonic clock): a kind is written
    // at once when it has been quiet for a minute, else gathered until its minute
    // is over.
    void Add(const IncidentCounts& fresh, int64_t nowMs);

private:
    Log& log_;
    IncidentCounts pending_;
    std::array<int64_t, kIncidentKinds> writtenMs_{-1, -1, -1, -1, -1};
};

}  // namespace ovrin::status
