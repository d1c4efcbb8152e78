// The simulator's additions for the IP-setting runs: live hosts that are no cameras, and a
// camera that answers searches but never an IP-setting command.
#include <gtest/gtest.h>

#include <cstring>

#include "camera_datagrams.h"
#include "fleet_file.h"

using namespace lanrove;
using namespace lanrove::camsim;
using namespace lanrove::dgram;

TEST(CamsimHosts, AddressesAndRangesWithTheDefaultMask) {
    std::vector<SimCamera> cameras;
    std::vector<SimHost> hosts;
    std::string error;
    ASSERT_TRUE(parseFleetJson(R"({"defaults": {"mask": "255.255.0.0"},
        "cameras": [{"mac": "00:80:45:00:01:01", "ip": "192.168.0.2"}],
        "hosts": ["192.168.0.20", "192.168.0.254-192.168.1.1"]})",
                               cameras, hosts, error))
        << error;
    ASSERT_EQ(cameras.size(), 1u);
    ASSERT_EQ(hosts.size(), 5u);
    EXPECT_EQ(hosts[0].ip, "192.168.0.20");
    EXPECT_EQ(hosts[1].ip, "192.168.0.254");
    EXPECT_EQ(hosts[4].ip, "192.168.1.1");
    EXPECT_EQ(hosts[4].mask, "255.255.0.0");

    for (const char* bad : {R"({"hosts": "192.168.0.20"})", R"({"hosts": ["192.168.0.x"]})",
                            R"({"hosts": ["192.168.0.9-192.168.0.8"]})", R"({"hosts": [20]})"}) {
        error.clear();
        EXPECT_FALSE(parseFleetJson(bad, cameras, hosts, error)) << bad;
        EXPECT_FALSE(error.empty());
    }
}

TEST(CamsimHosts, NoSetCameraIsFoundButNeverAnswersTheSetting) {
    Fleet fleet;
    SimCamera c;
    c.protoVer = 2;
    const std::uint8_t mac[6] = {0x00, 0x80, 0x45, 0x00, 0x01, 0x02};
    std::memcpy(c.mac, mac, 6);
    c.ip = "192.168.0.2";
    c.admin = {"vorly", "vorly"};
    c.faults = {"noset"};
    fleet.cameras = {c};
    DatagramResponder responder(fleet, WireCodec());
    std::vector<Outgoing> out;
    std::vector<std::size_t> changed;
    const std::uint8_t pc[6] = {2, 0, 0, 0, 0, 1};

    Datagram search;
    buildPcDatagram(search, kSearchRequest, pc, kArgSearch, nullptr, 0, 1);
    responder.handle(search.data(), search.size(), out, changed);
    EXPECT_EQ(out.size(), 1u);

    CameraEntry r;
    r.clear();
    setField(r.szNo, std::string_view("1"));
    setField(r.szMac, std::string_view("00:80:45:00:01:02"));
    setField(r.szIp, std::string_view("192.168.0.20"));
    setField(r.szMask, std::string_view("255.255.255.0"));
    setField(r.szUser, std::string_view("vorly"));
    setField(r.szPassword, std::string_view("vorly"));
    r.wProtoVer = 2;
    Payload p;
    const std::size_t n = buildIpSettingPayload(r, WireCodec(), p);
    Datagram setting;
    buildPcDatagram(setting, kIpSetting, pc, kArgIpSetting, p.data(), n, 0);
    out.clear();
    responder.handle(setting.data(), setting.size(), out, changed);
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(changed.empty());
    EXPECT_EQ(fleet.cameras[0].ip, "192.168.0.2");
}
