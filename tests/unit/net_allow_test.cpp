// The allow-list: which addresses match, and the refusal at the door with its
// once-a-minute log line, on the simulated platform.
#include <gtest/gtest.h>

#include "net/Admission.h"
#include "station/OptionsText.h"
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

// The first entry that matches decides the role; no role is transmit; a role that
// cannot be read makes the whole list unreadable.
TEST(AllowList, EachEntryMayNameItsRole) {
    AllowList list;
    ASSERT_FALSE(list.Add("10.0.0.5=transmit,10.0.0.0/8=monitor,2001:db8::/32=operate,192.168.1.7"));
    const std::pair<const char*, std::optional<cat::Role>> rows[] = {
        {"10.0.0.5", cat::Role::Transmit}, {"10.9.9.9", cat::Role::Monitor}, {"2001:db8::1", cat::Role::Operate},
        {"192.168.1.7", cat::Role::Transmit}, {"192.168.1.8", std::nullopt}};
    for (const auto& [address, role] : rows) EXPECT_EQ(list.RoleOf(address), role) << address;
    EXPECT_EQ(AllowList().RoleOf("203.0.113.9"), cat::Role::Transmit);
    for (const char* bad : {"10.0.0.1=admin", "10.0.0.1=", "10.0.0.1=monitor=operate", "=monitor"})
        EXPECT_TRUE(AllowList().Add(bad)) << bad;
    EXPECT_FALSE(AllowListOfOption("10.0.0.1=monitor, 10.0.0.2=root"));
    ServerOptions o;
    EXPECT_FALSE(SetOption(o, "allow", "10.0.0.1=monitor 10.0.0.0/24=operate"));
    EXPECT_EQ(o.allow, "10.0.0.1=monitor, 10.0.0.0/24=operate");
    EXPECT_TRUE(SetOption(o, "allow", "10.0.0.1=boss"));
}

TEST(AllowList, RefusedBeforeTheSerialPortOpensAndLoggedOnceAMinutePerAddress) {
    sim::SimApp p;
    Admission door(p.log);
    p.clock.Bind(door.QuietTimer());
    p.f.station.Admits = [&](const std::string& a) { return door.Admits(p.f.station.settings.options.allow, a); };
    p.f.station.Given.options = {{"allow", "127.0.0.1"}};
    p.Load();
    const int opens = p.com.opens;  // the port kept open in Listen, as by default
    for (const auto& [before, logged] : {std::pair{0, 1}, {0, 1}, {59000, 1}, {62000, 2}}) {  // ms before each attempt
        p.clock.Advance(before);
        EXPECT_FALSE(p.sockets.RequestConnection("127.0.0.2"));
        EXPECT_EQ(p.log.Count("127.0.0.2 refused: not on the allow"), logged) << before;
    }
    EXPECT_EQ(p.com.opens, opens);
    EXPECT_TRUE(p.sockets.RequestConnection("127.0.0.1"));
}

}  // namespace
}  // namespace ovrin
