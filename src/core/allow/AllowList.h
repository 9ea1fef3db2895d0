#pragma once
// Which client addresses may connect, and in what role: IPv4 and IPv6 networks
// ("192.168.1.0/24", "2001:db8::/32", a single address without a prefix), each with
// an optional role ("10.0.0.0/8=monitor"; none: transmit). The first entry that
// matches decides. An empty list allows everyone, to transmit.
// Plain text in, yes or no out; IPv4 addresses are compared as IPv4-mapped IPv6, so
// an IPv4 client reaching an IPv6 listener matches the IPv4 entries.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cat/Cat.h"

namespace ovrin {

class AllowList {
public:
    // Adds comma-separated entries; on a bad one adds nothing and says why,
    // naming it.
    std::optional<std::string> Add(const std::string& entries);
    bool Allows(const std::string& address) const { return RoleOf(address).has_value(); }
    // The role of the first entry that matches; nothing when none does.
    std::optional<cat::Role> RoleOf(const std::string& address) const;
    bool Empty() const { return networks_.empty(); }

private:
    struct Network {
        std::array<uint8_t, 16> address;
        int prefix;  // leading bits that must match, 0..128
        cat::Role role;
    };
    std::vector<Network> networks_;
};

// The allow option's text (entries with commas and any spaces between them) as a
// list; nothing when an entry is bad, for the caller to shut its door rather than
// open it to everyone. An empty text lets everyone in.
std::optional<AllowList> AllowListOfOption(const std::string& text);

// An address as 16 bytes (IPv4 as ::ffff:a.b.c.d); nothing for anything else. A
// zone ("fe80::1%eth0") is ignored.
std::optional<std::array<uint8_t, 16>> ParseIpAddress(const std::string& text);

// An IPv4 address written with a leading zero ("010.0.0.1") is decimal to some
// programs and octal to others (the system's own parser reads 8.0.0.1): what to
// write instead, or nothing when the text is not such a form.
std::optional<std::string> AmbiguousAddress(const std::string& text);

}  // namespace ovrin
