#include <gtest/gtest.h>
#include <net/if.h>

#include <chrono>
#include <cstring>

#include "discovery/host_network.h"
#include "discovery/ipv4_address.h"
#include "log_capture.h"

using namespace lanrove;
using lanrove::testing::LogCapture;

namespace {

InterfaceInfo makeIface(const char* name, unsigned flags, std::uint8_t macByte,
                        std::vector<std::pair<const char*, const char*>> addresses) {
    InterfaceInfo i;
    i.name = name;
    i.flags = flags;
    i.mac[0] = 0x02;
    i.mac[5] = macByte;
    for (const auto& [a, m] : addresses) i.addresses.push_back({*ipv4::parse(a), *ipv4::parse(m)});
    return i;
}

constexpr unsigned kUp = IFF_UP | IFF_BROADCAST | IFF_RUNNING;

struct FakeNet : HostNetwork {
    std::vector<AdapterEntry> adapters;
    std::uint32_t result = 0;
    std::u16string target;
    long timeout = 0;
    int enumerateAdapters(std::vector<AdapterEntry>& out) override {
        out = adapters;
        return static_cast<int>(out.size());
    }
    std::uint32_t echo(std::u16string_view t, long ms) override {
        target = t;
        timeout = ms;
        return result;
    }
    int flushArpCache() override { return 0; }
};

AdapterEntry adapter(const char* ip, const char* mask, const char* gw) {
    AdapterEntry a;
    a.clear();
    AdapterEntry::setText(a.szIp, ip);
    AdapterEntry::setText(a.szMask, mask);
    AdapterEntry::setText(a.szGateway, gw);
    return a;
}

}  // namespace

TEST(HostNetwork, DefaultGatewaysFromRouteTable) {
    const char* text =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
        "eth0\t0000A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
        "eth0\t00000000\t0100A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
        "eth0\t00000000\t FE00A8C0\t0003\t0\t0\t200\t00000000\t0\t0\t0\n"
        "eth1\t00000000\t0101010A\t0001\t0\t0\t0\t00000000\t0\t0\t0\n"  // no gateway flag
        "eth2\t00000000\t0101010A\t0002\t0\t0\t0\t00000000\t0\t0\t0\n"  // not up
        "eth3\t00000000\t0102010A\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
        "garbage line\n";
    const auto g = parseDefaultGateways(text);
    ASSERT_EQ(g.size(), 2u);
    EXPECT_EQ(ipv4::toText(g.at("eth0")), "192.168.0.1");  // the first default route wins
    EXPECT_EQ(ipv4::toText(g.at("eth3")), "10.1.2.1");
}

TEST(HostNetwork, AdapterListRules) {
    const std::vector<InterfaceInfo> interfaces = {
        makeIface("lo", kUp | IFF_LOOPBACK, 0, {{"127.0.0.1", "255.0.0.0"}}),
        makeIface("eth0", kUp, 1, {}),  // no IPv4 address
        makeIface("eth1", kUp, 2, {{"192.168.0.10", "255.255.255.0"}, {"10.0.0.5", "255.0.0.0"}}),
        makeIface("eth2", IFF_BROADCAST, 3, {{"172.16.0.5", "255.255.0.0"}}),  // down
        makeIface("eth3", kUp, 4, {{"10.1.2.3", "255.255.255.0"}}),
    };
    const auto list = buildAdapterList(interfaces, {{"eth1", *ipv4::parse("192.168.0.1")}});
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].ip(), "192.168.0.10");  // only the first address of an adapter
    EXPECT_EQ(list[0].mask(), "255.255.255.0");
    EXPECT_EQ(list[0].gateway(), "192.168.0.1");
    EXPECT_EQ(list[0].ifName(), "eth1");
    EXPECT_EQ(list[0].mac[0], 0x02);
    EXPECT_EQ(list[0].mac[5], 2);
    EXPECT_EQ(list[1].ip(), "10.1.2.3");
    EXPECT_EQ(list[1].gateway(), "0.0.0.0");
}

TEST(HostNetwork, AdapterWithoutCarrierIsSkippedAndNamed) {
    // An empty bridge or an unplugged port is up with an address but has no carrier: a
    // search there can only wait, so it is left out and named for the trace.
    const std::vector<InterfaceInfo> interfaces = {
        makeIface("br0", IFF_UP | IFF_BROADCAST, 1, {{"172.17.0.1", "255.255.0.0"}}),
        makeIface("eth1", kUp, 2, {{"192.168.0.10", "255.255.255.0"}}),
        makeIface("eth2", IFF_BROADCAST, 3, {{"172.16.0.5", "255.255.0.0"}}),  // down: not named
    };
    std::vector<std::string> withoutCarrier;
    const auto list = buildAdapterList(interfaces, {}, &withoutCarrier);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].ifName(), "eth1");
    EXPECT_EQ(withoutCarrier, std::vector<std::string>{"br0"});
    EXPECT_EQ(buildAdapterList(interfaces, {}).size(), 1u);  // the same without the names
}

TEST(HostNetwork, StartupEchoTarget) {
    EXPECT_EQ(startupEchoTarget(adapter("192.168.0.10", "255.255.255.0", "192.168.0.1")),
              "192.168.0.1");
    EXPECT_EQ(startupEchoTarget(adapter("10.1.2.3", "255.255.255.0", "0.0.0.0")), "10.1.2.1");
    EXPECT_EQ(startupEchoTarget(adapter("10.1.2.3", "255.255.255.0", "")), "10.1.2.1");
    EXPECT_EQ(startupEchoTarget(adapter("10.1.2.255", "255.255.255.255", "0.0.0.0")), "10.1.2.0");
}

TEST(HostNetwork, StartupCheckOutcomes) {
    FakeNet net;
    std::vector<AdapterEntry> list;
    auto r = runStartupNetworkCheck(net, list);
    EXPECT_EQ(r.outcome, NetworkCheckOutcome::NoAddress);
    EXPECT_EQ(r.adapterCount, 0);
    EXPECT_TRUE(net.target.empty());  // nothing was echoed

    net.adapters = {adapter("10.1.2.3", "255.255.255.0", "0.0.0.0"),
                    adapter("192.168.0.10", "255.255.255.0", "192.168.0.1")};
    for (std::uint32_t pass : {kEchoSuccess, kEchoTimedOut}) {
        net.result = pass;
        r = runStartupNetworkCheck(net, list);
        EXPECT_EQ(r.outcome, NetworkCheckOutcome::Pass) << pass;
    }
    EXPECT_EQ(net.target, u"10.1.2.1");  // the first adapter decides
    EXPECT_EQ(net.timeout, 3000);
    EXPECT_EQ(r.adapterCount, 2);
    EXPECT_EQ(list.size(), 2u);
    for (std::uint32_t fail : {kEchoUnavailable, kEchoDestHostUnreachable, kEchoGeneralFailure}) {
        net.result = fail;
        EXPECT_EQ(runStartupNetworkCheck(net, list).outcome, NetworkCheckOutcome::Firewall) << fail;
    }
    EXPECT_STREQ(outcomeName(NetworkCheckOutcome::Firewall), "firewall");
}

TEST(HostNetwork, EchoRequestChecksum) {
    std::uint8_t req[8];
    buildEchoRequest(req, 0x1234, 0xBEEF);
    EXPECT_EQ(req[0], 8);
    std::uint32_t sum = 0;
    for (int i = 0; i < 8; i += 2) sum += static_cast<std::uint32_t>((req[i] << 8) | req[i + 1]);
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    EXPECT_EQ(sum, 0xFFFFu);
}

TEST(HostNetwork, EchoReplyMatching) {
    const std::uint32_t target = *ipv4::parse("192.168.0.1");
    // Raw socket: IP header (20 bytes) then the ICMP header.
    std::uint8_t raw[28] = {0x45, 0, 0, 28, 0, 0, 0, 0, 64, 1};
    std::uint8_t* icmp = raw + 20;
    icmp[0] = 0;  // echo reply
    icmp[4] = 0x12;
    icmp[5] = 0x34;
    icmp[6] = 0x00;
    icmp[7] = 0x07;
    EXPECT_TRUE(isEchoReplyFor(raw, 28, true, target, target, 0x1234, 7, true));
    EXPECT_FALSE(isEchoReplyFor(raw, 28, true, target, target, 0x1234, 8, true));  // other seq
    EXPECT_FALSE(isEchoReplyFor(raw, 28, true, target, target, 0x4321, 7, true));  // other id
    EXPECT_FALSE(isEchoReplyFor(raw, 28, true, target + 1, target, 0x1234, 7, true));
    EXPECT_FALSE(isEchoReplyFor(raw, 27, true, target, target, 0x1234, 7, true));  // cut short
    icmp[0] = 8;  // our own request seen on a local target
    EXPECT_FALSE(isEchoReplyFor(raw, 28, true, target, target, 0x1234, 7, true));
    icmp[0] = 0;
    raw[0] = 0x46;  // header length 24: the ICMP header would end past the packet
    EXPECT_FALSE(isEchoReplyFor(raw, 28, true, target, target, 0x1234, 7, true));
    // Datagram socket: no IP header, identifier owned by the kernel.
    EXPECT_TRUE(isEchoReplyFor(icmp, 8, false, target, target, 0x9999, 7, false));
    EXPECT_FALSE(isEchoReplyFor(icmp, 7, false, target, target, 0x9999, 7, false));
}

TEST(HostNetwork, EchoWithoutTargetIsBadDestination) {
    ScaledClock clock(0.01);
    EXPECT_EQ(icmpEcho(u"", 3000, clock), kEchoBadDestination);
}

TEST(HostNetwork, FlushCommandRunsOrWritesTheTraceLine) {
    LogCapture capture;
    EXPECT_EQ(runFlushCommand({"true"}, capture.log()), 0);
    EXPECT_EQ(capture.count("ARP cache not flushed"), 0u);
    // An ordinary user's flush fails with a status: noted, and the run carries on.
    EXPECT_EQ(runFlushCommand({"false"}, capture.log()), 0);
    EXPECT_EQ(capture.count("ARP cache not flushed: false exited with 1"), 1u);
    EXPECT_EQ(runFlushCommand({"/nonexistent/lanrove-flush"}, capture.log()), -1);
    EXPECT_EQ(capture.count("SetCmdNetshExc Error(-2147024894)"), 1u);  // ENOENT as HRESULT
    EXPECT_EQ(runFlushCommand({}, capture.log()), -1);

    ScaledClock clock;
    SystemHostNetwork net(clock, capture.log());
    net.setFlushCommand({"true"});
    EXPECT_EQ(net.flushArpCache(), 0);
}

TEST(HostNetwork, FlushCommandThatHangsIsKilledAfterItsTimeOut) {
    // The search worker waits for the flush, and the program's end waits for the worker.
    LogCapture capture;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(runFlushCommand({"sleep", "30"}, capture.log(), Millis(200)), -1);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, Millis(200));
    EXPECT_LT(took, std::chrono::seconds(5));
    EXPECT_EQ(capture.count("SetCmdNetshExc Timeout(200 ms) Killed"), 1u);
    EXPECT_EQ(runFlushCommand({"true"}, capture.log(), Millis(5000)), 0);
    EXPECT_EQ(capture.count("Killed"), 1u);
}

TEST(HostNetwork, FlushRunsIpByItsAbsolutePathNeverThroughThePath) {
    const std::string ip = ipCommandPath();
    EXPECT_TRUE(ip == "/usr/sbin/ip" || ip == "/sbin/ip") << ip;
    // The first candidate that can be run; the first one when none can (the start then fails
    // with its trace line instead of running something else).
    EXPECT_EQ(firstExecutable({"/nonexistent/ip", "/bin/sh"}), "/bin/sh");
    EXPECT_EQ(firstExecutable({"/nonexistent/ip", "/nonexistent/sbin/ip"}), "/nonexistent/ip");
    EXPECT_EQ(firstExecutable({}), "");
}
