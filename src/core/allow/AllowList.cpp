#include "allow/AllowList.h"

#include <algorithm>

namespace ovrin {
namespace {

using Address = std::array<uint8_t, 16>;

// Digits only, at most `maxDigits` of them, in the given base.
std::optional<unsigned> Digits(const std::string& text, unsigned base, std::size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits) return std::nullopt;
    unsigned n = 0;
    for (char c : text) {
        unsigned d;
        if (c >= '0' && c <= '9') d = static_cast<unsigned>(c - '0');
        else if (base == 16 && (c | 0x20) >= 'a' && (c | 0x20) <= 'f') d = static_cast<unsigned>((c | 0x20) - 'a' + 10);
        else return std::nullopt;
        n = n * base + d;
    }
    return n;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == separator) parts.emplace_back();
        else parts.back() += c;
    }
    return parts;
}

// Leading zeros are refused: "010" means 10 to some programs and 8 to others.
bool Unambiguous(const std::string& part) { return part.size() < 2 || part[0] != '0'; }

// Four decimal parts in full: the resolver's short forms ("10.1") are not addresses here.
bool ParseIPv4(const std::string& text, uint8_t* out) {
    const auto parts = Split(text, '.');
    if (parts.size() != 4) return false;
    for (std::size_t i = 0; i < 4; ++i) {
        const auto n = Digits(parts[i], 10, 3);
        if (!n || *n > 255 || !Unambiguous(parts[i])) return false;
        out[i] = static_cast<uint8_t>(*n);
    }
    return true;
}

// Hexadecimal groups, one "::" at most, an IPv4 tail allowed.
bool ParseIPv6(const std::string& text, Address& out) {
    const auto gap = text.find("::");
    if (gap != std::string::npos && text.find("::", gap + 1) != std::string::npos) return false;
    std::vector<uint8_t> head, tail;
    auto groups = [](const std::string& part, std::vector<uint8_t>& bytes, bool last) {
        if (part.empty()) return true;
        const auto fields = Split(part, ':');
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (last && i + 1 == fields.size() && fields[i].find('.') != std::string::npos) {
                uint8_t v4[4];
                if (!ParseIPv4(fields[i], v4)) return false;
                bytes.insert(bytes.end(), v4, v4 + 4);
                continue;
            }
            const auto n = Digits(fields[i], 16, 4);
            if (!n) return false;
            bytes.push_back(static_cast<uint8_t>(*n >> 8));
            bytes.push_back(static_cast<uint8_t>(*n & 0xff));
        }
        return true;
    };
    if (gap == std::string::npos) {
        if (!groups(text, head, true) || head.size() != 16) return false;
    } else {
        if (!groups(text.substr(0, gap), head, false) || !groups(text.substr(gap + 2), tail, true)) return false;
        if (head.size() + tail.size() > 14) return false;  // "::" stands for at least one group
    }
    out.fill(0);
    std::copy(head.begin(), head.end(), out.begin());
    std::copy(tail.begin(), tail.end(), out.end() - static_cast<std::ptrdiff_t>(tail.size()));
    return true;
}

bool SamePrefix(const Address& a, const Address& b, int bits) {
    for (std::size_t i = 0; bits > 0; ++i, bits -= 8) {
        const uint8_t mask = bits >= 8 ? 0xff : static_cast<uint8_t>(0xff << (8 - bits));
        if ((a[i] & mask) != (b[i] & mask)) return false;
    }
    return true;
}

}  // namespace

std::optional<Address> ParseIpAddress(const std::string& text) {
    const std::string bare = text.substr(0, text.find('%'));
    Address a{};
    if (bare.find(':') == std::string::npos) {
        a[10] = a[11] = 0xff;
        if (!ParseIPv4(bare, a.data() + 12)) return std::nullopt;
        return a;
    }
    if (!ParseIPv6(bare, a)) return std::nullopt;
    return a;
}

std::optional<std::string> AmbiguousAddress(const std::string& text) {
    const auto parts = Split(text.substr(text.rfind(':') == std::string::npos ? 0 : text.rfind(':') + 1), '.');
    if (parts.size() != 4) return std::nullopt;
    std::string decimal, octal;
    bool leading = false;
    for (const std::string& part : parts) {
        const auto d = Digits(part, 10, 4);
        if (!d || *d > 255) return std::nullopt;
        leading = leading || !Unambiguous(part);
        const auto o = Digits(part, 8, 4);
        decimal += (decimal.empty() ? "" : ".") + std::to_string(*d);
        octal += (octal.empty() ? "" : ".") + (o && *o <= 255 ? std::to_string(*o) : std::string("?"));
    }
    if (!leading) return std::nullopt;
    const std::string prefix = text.substr(0, text.rfind(':') == std::string::npos ? 0 : text.rfind(':') + 1);
    std::string advice = "write " + prefix + decimal;
    if (octal.find('?') == std::string::npos && octal != decimal) advice += " (or " + prefix + octal + " if octal was meant)";
    return advice;
}

std::optional<std::string> AllowList::Add(const std::string& entries) {
    std::vector<Network> added;
    const auto bad = [](const std::string& entry) {
        return "\"" + entry + "\" is not an address or network (ADDRESS[/PREFIX][=ROLE], IPv4 or IPv6)";
    };
    for (const std::string& whole : Split(entries, ',')) {
        const auto equals = whole.find('=');
        const std::string entry = whole.substr(0, equals);
        cat::Role role = cat::Role::Transmit;
        if (equals != std::string::npos) {
            const auto named = cat::ParseRole(whole.substr(equals + 1));
            if (!named) return "\"" + whole + "\": the role is monitor, operate or transmit";
            role = *named;
        }
        const auto slash = entry.find('/');
        const std::string addressText = entry.substr(0, slash);
        if (const auto advice = AmbiguousAddress(addressText))
            return "\"" + entry + "\": a leading zero is decimal to some programs and octal to others; " + *advice;
        if (addressText.find('%') != std::string::npos) return bad(entry);
        const auto address = ParseIpAddress(addressText);
        if (!address) return bad(entry);
        const bool v4 = addressText.find(':') == std::string::npos;
        int prefix = 128;
        if (slash != std::string::npos) {
            const auto n = Digits(entry.substr(slash + 1), 10, 3);
            if (!n || *n > (v4 ? 32u : 128u)) return bad(entry);
            prefix = static_cast<int>(*n) + (v4 ? 96 : 0);
        }
        added.push_back({*address, prefix, role});
    }
    networks_.insert(networks_.end(), added.begin(), added.end());
    return std::nullopt;
}

std::optional<cat::Role> AllowList::RoleOf(const std::string& address) const {
    if (networks_.empty()) return cat::Role::Transmit;
    const auto a = ParseIpAddress(address);
    if (!a) return std::nullopt;
    // IPv4 entries cover the mapped range (::ffff:0:0/96), so an IPv6 entry that
    // spans that range (::/0) takes IPv4 clients too.
    for (const Network& n : networks_)
        if (SamePrefix(*a, n.address, n.prefix)) return n.role;
    return std::nullopt;
}

std::optional<AllowList> AllowListOfOption(const std::string& text) {
    std::string entries;
    for (char c : text)
        if (c != ' ' && c != '\t') entries += c;
    AllowList list;
    if (!entries.empty() && list.Add(entries)) return std::nullopt;
    return list;
}

}  // namespace ovrin
