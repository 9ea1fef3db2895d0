// The allow-list: which addresses match, and the refusal at the door with its
// once-a-minute log line, on the simulated platform.
#include <gtest/gtest.h>

#include <algorithm>

#include "net/Admission.h"
#include "sim/SimPlatform.h"

namespace ovrin {
namespace {

TEST(AllowList, AddressesAgainstNetworksOfBothFamilies) {
    AllowList list;
    ASSERT_FALSE(list.Add("192.168.1.0/24,10.0.0.5"));
    ASSERT_FALSE(list.Add("2001:db8::/32,::ffff:172.16.0.0/108"));
    const std::pair<const char*, bool> rows[] = {
        {"192.168.1.255", true}, {"192.168.2.1", false}, {"10.0.0.5", true},       {"10.0.0.6", false},
        {"2001:db8:f::1", true}, {"2001:db9::1", false}, {"::ffff:192.168.1.7", true}, {"172.31.0.1", true},
        {"172.32.0.1", false},   {"", false},            {"192.168.1", false}};
    for (const auto& [address, allowed] : rows) EXPECT_EQ(list.Allows(address), allowed) << address;
    EXPECT_TRUE(AllowList().Allows("203.0.113.9"));  // no list: everyone
    for (const char* bad : {"::1/129", "1:2:3:4:5:6:7:8:9", "1:2:3:4:5:6:7::8", "fe80::1%eth0", "10.0.0.1/",
                            "10.0.0.1,10.0.0.300"})
        EXPECT_TRUE(AllowList().Add(bad)) << bad;
}

TEST(AllowList, RefusedBeforeTheSerialPortOpensAndLoggedOnceAMinutePerAddress) {
    sim::SimApp p;
    Admission door(p.log);
    p.clock.Bind(door.QuietTimer());
    p.f.station.Admits = [&](const std::string& a) { return door.Admits(p.f.station.settings.options.allow, a); };
    p.f.station.Given.options = {{"allow", "127.0.0.1"}};
    p.Load();
    const int opens = p.com.opens;  // the port kept open in Listen, as by default
    const auto logged = [&] {
        return std::count_if(p.log.lines.begin(), p.log.lines.end(),
                             [](const std::string& l) { return l.find("127.0.0.2 refused: not on the allow") != l.npos; });
    };
    const int64_t steps[] = {0, 0, 59000, 62000};  // ms before each attempt
    const long expected[] = {1, 1, 1, 2};
    for (int i = 0; i < 4; ++i) {
        p.clock.Advance(steps[i]);
        EXPECT_FALSE(p.sockets.RequestConnection("127.0.0.2"));
        EXPECT_EQ(logged(), expected[i]) << i;
    }
    EXPECT_EQ(p.com.opens, opens);
    EXPECT_TRUE(p.sockets.RequestConnection("127.0.0.1"));
}

}  // namespace
}  // namespace ovrin
