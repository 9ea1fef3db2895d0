// The allow-list: which addresses match, and the refusal at the door with its
// once-a-minute log line, on the simulated platform.
#include <gtest/gtest.h>

#include <algorithm>

#include "net/Admission.h"
#include "settings/Settings.h"
#include "sim/SimPlatform.h"

namespace ovrin {
namespace {

TEST(AllowList, AddressesAgainstNetworksOfBothFamilies) {
    AllowList list;
    ASSERT_FALSE(list.Add("192.168.1.0/24,10.0.0.5"));
    ASSERT_FALSE(list.Add("2001:db8::/32,fe80::1:2:3:4/128,::ffff:172.16.0.0/108"));
    const struct {
        const char* address;
        bool allowed;
    } rows[] = {
        {"192.168.1.0", true},   {"192.168.1.255", true},  {"192.168.2.1", false},
        {"10.0.0.5", true},      {"10.0.0.6", false},      {"2001:db8:ffff::1", true},
        {"2001:db9::1", false},  {"fe80::1:2:3:4%eth0", true}, {"fe80::1:2:3:5", false},
        {"::ffff:192.168.1.7", true},  // an IPv4 client seen through an IPv6 socket
        {"172.16.0.1", true},    {"172.31.255.255", true}, {"172.32.0.1", false},
        {"", false},             {"192.168.1", false},     {"not an address", false},
    };
    for (const auto& r : rows) EXPECT_EQ(list.Allows(r.address), r.allowed) << r.address;
    EXPECT_TRUE(AllowList().Allows("203.0.113.9"));  // no list: everyone
    AllowList all;
    ASSERT_FALSE(all.Add("0.0.0.0/0"));
    EXPECT_TRUE(all.Allows("203.0.113.9"));
    EXPECT_FALSE(all.Allows("2001:db8::1"));
    // A bad entry adds nothing of its list.
    AllowList some;
    EXPECT_EQ(some.Add("10.0.0.1,10.0.0.300"), "10.0.0.300");
    EXPECT_TRUE(some.Empty());
    for (const char* bad : {"::1/129", "1:2:3:4:5:6:7:8:9", "1:2:3:4:5:6:7::8", "12345::", "fe80::1%eth0",
                            "10.0.0.1/", "/8", "10.0.0.01.1"})
        EXPECT_TRUE(AllowList().Add(bad)) << bad;
}

TEST(AllowList, RefusedBeforeAnythingAndLoggedOnceAMinutePerAddress) {
    sim::SimApp p;
    AllowList list;
    ASSERT_FALSE(list.Add("127.0.0.1"));
    Admission door(list, p.log);
    p.clock.Bind(door.QuietTimer());
    p.f.Admits = [&](const std::string& a) { return door.Admits(a); };
    p.Load();
    const int opens = p.com.opens;
    const auto refusals = [&] {
        return std::count_if(p.log.lines.begin(), p.log.lines.end(), [](const std::string& line) {
            return line.find("Client 127.0.0.2 refused: not on the allow-list") != std::string::npos;
        });
    };

    EXPECT_FALSE(p.sockets.RequestConnection("127.0.0.2"));
    EXPECT_FALSE(p.sockets.RequestConnection("127.0.0.2"));
    EXPECT_EQ(refusals(), 1);
    EXPECT_EQ(p.com.opens, opens);  // the serial port is not even opened for it
    p.clock.Advance(59000);
    EXPECT_FALSE(p.sockets.RequestConnection("127.0.0.2"));
    EXPECT_EQ(refusals(), 1);
    p.clock.Advance(62000);
    EXPECT_FALSE(p.sockets.RequestConnection("127.0.0.2"));
    EXPECT_EQ(refusals(), 2);
    EXPECT_TRUE(p.sockets.RequestConnection("127.0.0.1"));
}

}  // namespace
}  // namespace ovrin
