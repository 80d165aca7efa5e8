#include <net/if.h>

#include <gtest/gtest.h>

#include "discovery/identity_probe.hpp"
#include "discovery/local_interfaces.hpp"

namespace velk {
namespace {

InterfaceAddress up(const char* name, const char* address, unsigned extra = 0) {
    return InterfaceAddress{name, IFF_UP | extra, std::string(address)};
}

TEST(LocalInterfaces, SkipsLoopbackTunnelsAndVirtualInterfaces) {
    std::vector<InterfaceAddress> entries = {
        up("lo", "127.0.0.1", IFF_LOOPBACK), up("eth0", "192.168.1.20"), up("utun3", "10.9.0.2"),
        up("pdp_ip0", "10.10.0.2"), up("docker0", "172.17.0.1"), up("br-1a2b", "172.18.0.1"),
        up("virbr0", "192.168.122.1"), up("veth12", "10.1.1.1"), up("tun0", "10.8.0.1"), up("tap0", "10.8.1.1"),
        up("wg0", "10.7.0.1"), up("tailscale0", "100.64.0.9"), up("ztabc", "10.147.0.1"), up("wlan0", "10.0.0.7"),
        InterfaceAddress{"eth1", 0, std::string("10.5.5.5")}, InterfaceAddress{"eth2", IFF_UP, std::nullopt},
        up("eth0", "192.168.1.21")};
    EXPECT_EQ(usableIPv4Links(entries), (std::vector<std::string>{"192.168.1.20", "10.0.0.7", "192.168.1.21"}));
    EXPECT_EQ(usableInterfaceNames(entries), (std::vector<std::string>{"eth0", "eth2", "wlan0"}));
}

TEST(LocalInterfaces, PairingHostIsTheFirstPrivateAddress) {
    EXPECT_EQ(pairingHostFrom({"100.64.0.5", "192.168.1.20"}), "192.168.1.20");
    EXPECT_EQ(pairingHostFrom({"172.32.0.1"}), std::nullopt);
    EXPECT_EQ(pairingHostFrom({"172.16.0.1"}), "172.16.0.1");
    EXPECT_EQ(pairingHostFrom({"10.1.2.3"}), "10.1.2.3");
}

TEST(LocalInterfaces, HostsIn24) {
    auto hosts = hostsIn24("192.168.1.20");
    ASSERT_EQ(hosts.size(), 254u);
    EXPECT_EQ(hosts.front(), "192.168.1.1");
    EXPECT_EQ(hosts.back(), "192.168.1.254");
    EXPECT_EQ(hostsIn24("172.31.4.4").size(), 254u);
    EXPECT_TRUE(hostsIn24("172.32.4.4").empty());
    EXPECT_TRUE(hostsIn24("100.64.0.5").empty());
    EXPECT_TRUE(hostsIn24("8.8.8.8").empty());
    EXPECT_TRUE(hostsIn24("10.0.0").empty());
    EXPECT_TRUE(hostsIn24("10.x.0.1").empty());
}

TEST(LocalInterfaces, ScanCandidatesAreUniqueSortedAndNeverOurOwn) {
    auto candidates = scanCandidates({"192.168.1.20", "192.168.1.30", "8.8.8.8"});
    EXPECT_EQ(candidates.size(), 252u);
    EXPECT_EQ(candidates[0], "192.168.1.1");
    EXPECT_EQ(candidates[1], "192.168.1.10");
    EXPECT_EQ(std::count(candidates.begin(), candidates.end(), "192.168.1.20"), 0);
    auto two = scanCandidates({"192.168.10.1", "192.168.1.1"});
    EXPECT_EQ(two.size(), 506u);
    EXPECT_EQ(two[252], "192.168.1.99");
    EXPECT_EQ(two[253], "192.168.10.10");
    EXPECT_TRUE(scanCandidates({"100.64.0.5"}).empty());
}

TEST(LocalInterfaces, PathSignatureSortsItsLists) {
    EXPECT_EQ(pathSignature("satisfied", {"wlan0", "eth0"}, {"10.0.0.2", "10.0.0.10"}),
              R"(satisfied|["eth0", "wlan0"]|["10.0.0.10", "10.0.0.2"])");
    EXPECT_EQ(pathSignature("unsatisfied", {}, {}), "unsatisfied|[]|[]");
}

TEST(LocalInterfaces, OnlyDottedIPv4IsADestination) {
    EXPECT_TRUE(isDottedIPv4("10.77.0.11"));
    EXPECT_TRUE(isDottedIPv4("239.255.71.42"));
    EXPECT_FALSE(isDottedIPv4("camera.local"));
    EXPECT_FALSE(isDottedIPv4("::1"));
    EXPECT_FALSE(isDottedIPv4(""));
    EXPECT_FALSE(isDottedIPv4("10.77.0"));
}

std::string header(std::uint32_t length) {
    return std::string{char(length >> 24), char(length >> 16), char(length >> 8), char(length)};
}

TEST(IdentityReplyReader, ReadsAFramedBodyInPieces) {
    IdentityReplyReader reader;
    EXPECT_EQ(reader.wanted(), 4u);
    EXPECT_EQ(reader.feed(header(5).substr(0, 2)), IdentityReplyReader::State::needMore);
    EXPECT_EQ(reader.feed(header(5).substr(2) + "ab"), IdentityReplyReader::State::needMore);
    EXPECT_EQ(reader.wanted(), 3u);
    EXPECT_EQ(reader.feed("cde"), IdentityReplyReader::State::complete);
    EXPECT_EQ(reader.body(), "abcde");
}

TEST(IdentityReplyReader, LengthLimits) {
    IdentityReplyReader zero;
    EXPECT_EQ(zero.feed(header(0)), IdentityReplyReader::State::invalid);
    IdentityReplyReader tooLong;
    EXPECT_EQ(tooLong.feed(header(8193)), IdentityReplyReader::State::invalid);
    IdentityReplyReader largest;
    EXPECT_EQ(largest.feed(header(8192)), IdentityReplyReader::State::needMore);
    EXPECT_EQ(largest.wanted(), 8192u);
    EXPECT_EQ(largest.feed(std::string(8192, ' ')), IdentityReplyReader::State::complete);
}

} // namespace
} // namespace velk
