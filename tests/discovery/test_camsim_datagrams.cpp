// The simulator's camera side against the program's own datagram code: what one builds the
// other must read, without any socket in between.
#include <gtest/gtest.h>

#include <cstring>

#include "camera_datagrams.h"
#include "discovery/datagram_link.h"
#include "fake_transport.h"
#include "fleet_file.h"

using namespace lanrove;
using namespace lanrove::camsim;
using namespace lanrove::dgram;
using lanrove::testing::RecordingTransport;

namespace {

SimCamera camera(std::uint8_t last, int version, const char* ip = "192.168.0.2") {
    SimCamera c;
    c.model = "KT-5200";
    c.protoVer = version;
    const std::uint8_t mac[6] = {0x00, 0x80, 0x45, 0x00, 0x00, last};
    std::memcpy(c.mac, mac, 6);
    c.ip = ip;
    c.gateway = "192.168.0.1";
    c.title = "Cam";
    c.firmVer = "1.20";
    c.admin = {"vorly", "vorly"};
    return c;
}

Datagram searchRequest(std::uint8_t number) {
    const std::uint8_t pc[6] = {2, 0, 0, 0, 0, 1};
    Datagram d;
    buildPcDatagram(d, kSearchRequest, pc, kArgSearch, nullptr, 0, number);
    return d;
}

Datagram ipSetting(const char* mac, const char* ip, int version, const char* user = "vorly",
                   const char* password = "vorly", const char* title = "New") {
    CameraEntry r;
    r.clear();
    setField(r.szNo, std::string_view("1"));
    setField(r.szMac, std::string_view(mac));
    setField(r.szIp, std::string_view(ip));
    setField(r.szMask, std::string_view("255.255.0.0"));
    setField(r.szGateway, std::string_view("192.168.0.254"));
    setField(r.szUser, std::string_view(user));
    setField(r.szPassword, std::string_view(password));
    setField(r.szPort, std::string_view("8080"));
    setField(r.szSsl, std::string_view("1"));
    setField(r.szTitle, std::string_view(title));
    r.wProtoVer = static_cast<std::uint16_t>(version);
    Payload p;
    const std::size_t n = buildIpSettingPayload(r, WireCodec(), p);
    const std::uint8_t pc[6] = {2, 0, 0, 0, 0, 1};
    Datagram d;
    buildPcDatagram(d, kIpSetting, pc, kArgIpSetting, p.data(), n, 0);
    return d;
}

struct Sim {
    Fleet fleet;
    DatagramResponder responder{fleet, WireCodec()};
    std::vector<Outgoing> out;
    std::vector<std::size_t> changed;
    void feed(const Datagram& d) {
        out.clear();
        changed.clear();
        responder.handle(d.data(), d.size(), out, changed);
    }
};

}  // namespace

TEST(CamsimFleetFile, DefaultsCamerasAndGeneratedBlocks) {
    const char* text = R"({
      "defaults": {"model": "M1", "firmware": "1.0", "faults": ["slow=5000"]},
      "cameras": [{"mac": "00:80:45:00:00:01", "ip": "192.168.0.2", "proto": 1, "ssl": 1,
                   "accounts": {"admin": {"password": "secret"}}, "faults": ["result=200", "twice"],
                   "versions": {"CAM MAIN Ver": "1.20"}}],
      "generate": [{"count": 3, "macStart": "02:00:00:00:10:ff", "ipStart": "10.0.0.254",
                    "ipStep": 1, "titleFormat": "CAM-{n}", "camera": {"mask": "255.0.0.0"}}]
    })";
    std::vector<SimCamera> cams;
    std::string error;
    ASSERT_TRUE(parseFleetJson(text, cams, error)) << error;
    ASSERT_EQ(cams.size(), 4u);
    EXPECT_EQ(cams[0].protoVer, 1);
    EXPECT_TRUE(cams[0].ssl);
    EXPECT_EQ(cams[0].model, "M1");
    EXPECT_EQ(cams[0].admin.user, "vorly");  // default user, given password
    EXPECT_EQ(cams[0].admin.password, "secret");
    EXPECT_EQ(cams[0].viewer.user, "pelma");
    EXPECT_EQ(cams[0].service.password, "730162");
    EXPECT_TRUE(cams[0].has("twice"));
    EXPECT_EQ(cams[0].faultArgs.at("result"), "200");
    EXPECT_EQ(cams[0].faultArgs.at("slow"), "5000");
    EXPECT_EQ(cams[0].versions.at("CAM MAIN Ver"), "1.20");
    EXPECT_EQ(macTextUpper(cams[1].mac), "02:00:00:00:10:FF");
    EXPECT_EQ(macTextUpper(cams[2].mac), "02:00:00:00:11:00");  // carries into the next byte
    EXPECT_EQ(cams[3].ip, "10.0.1.0");
    EXPECT_EQ(cams[3].title, "CAM-3");
    EXPECT_EQ(cams[3].mask, "255.0.0.0");
    EXPECT_EQ(cams[2].protoVer, 2);
}

TEST(CamsimFleetFile, MistakesAreReportedNotThrown) {
    const std::pair<const char*, const char*> cases[] = {
        {"{", "parse"},
        {R"({"cameras": [{"ip": "192.168.0.2"}]})", "no \"mac\""},
        {R"({"cameras": [{"mac": "00:80:45:00:00:01"}]})", "no \"ip\""},
        {R"({"cameras": [{"mac": "00:80:45:00:00:01", "ip": "1.2.3"}]})", "not a dotted"},
        {R"({"cameras": [{"mac": "00:80:45:00:00:01", "ip": "1.2.3.4", "proto": 3}]})", "1 or 2"},
        {R"({"cameras": [{"mac": "00:80:45:00:00:01", "ip": "1.2.3.4", "colour": "red"}]})",
         "colour"},
        {R"({"cameras": [{"mac": "00:80:45:00:00:01", "ip": "1.2.3.4"},
                         {"mac": "00:80:45:00:00:01", "ip": "1.2.3.5"}]})",
         "used twice"},
        {R"({"cameras": [{"mac": "00:80:45:00:00:01", "ip": "1.2.3.4", "port": "80"}]})",
         "whole number"},
        {R"({"generate": [{"count": 2}]})", "needs"},
        {R"({"cameras": [{"mac": "00:80:45:00:00:01", "ip": "1.2.3.4", "port": 4294967376}]})",
         "whole number"},
        {R"({"cameras": [{"mac": "00:80:45:00:00:01", "ip": "1.2.3.4"}],
             "generate": [{"count": 100000, "macStart": "02:00:00:00:00:00",
                           "ipStart": "10.0.0.1"}]})",
         "more than 100000 cameras"},
    };
    for (const auto& [text, expected] : cases) {
        std::vector<SimCamera> cams;
        std::string error;
        EXPECT_FALSE(parseFleetJson(text, cams, error)) << text;
        EXPECT_NE(error.find(expected), std::string::npos) << error;
    }
    Fleet fleet;
    std::string error;
    EXPECT_FALSE(loadFleetFile("/nonexistent/fleet.json", fleet, error));
}

TEST(CamsimDatagrams, SearchRepliesReadBackByTheProgram) {
    SimCamera v2 = camera(1, 2);
    v2.port = 8443;
    v2.ssl = true;
    v2.factory = true;
    v2.netOption = 5;
    const Datagram d2 = encodeSearchReply(v2, WireCodec());
    CameraEntry e;
    ASSERT_TRUE(decodeSearchReply(d2.data(), kSize, WireCodec(), e));
    EXPECT_EQ(fieldUtf8(e.szMac), "00:80:45:00:00:01");
    EXPECT_EQ(fieldUtf8(e.szIp), "192.168.0.2");
    EXPECT_EQ(fieldUtf8(e.szGateway), "192.168.0.1");
    EXPECT_EQ(fieldUtf8(e.szPort), "8443");
    EXPECT_EQ(fieldUtf8(e.szSsl), "1");
    EXPECT_EQ(e.bFactory, 1);
    EXPECT_EQ(e.bNetOption, 5);
    EXPECT_EQ(fieldUtf8(e.szTitle), "Cam");
    EXPECT_EQ(fieldUtf8(e.szModel), "KT-5200");
    EXPECT_EQ(fieldUtf8(e.szFirmVer), "1.20");

    // Over-long texts are cut so that the reply still fits and every field is found.
    SimCamera longTexts = camera(2, 2);
    longTexts.firmVer = std::string(300, 'f');
    longTexts.title = std::string(300, 't');
    longTexts.model = std::string(300, 'm');
    const Datagram dl = encodeSearchReply(longTexts, WireCodec());
    ASSERT_TRUE(decodeSearchReply(dl.data(), kSize, WireCodec(), e));
    EXPECT_EQ(fieldView(e.szTitle), std::u16string(63, u't'));
    EXPECT_EQ(fieldView(e.szModel), std::u16string(63, u'm'));

    const Datagram d1 = encodeSearchReply(camera(3, 1), WireCodec());
    ASSERT_TRUE(decodeSearchReply(d1.data(), kSize, WireCodec(), e));
    EXPECT_EQ(e.wProtoVer, 1);
    EXPECT_TRUE(fieldEmpty(e.szModel));
    EXPECT_EQ(d1[53], 0);  // nothing beyond the addresses in the version 1 layout
}

TEST(CamsimDatagrams, FleetWithFaultsThroughTheReceiveHandling) {
    Sim sim;
    sim.fleet.cameras = {camera(1, 2), camera(2, 1), camera(3, 2),
                         camera(4, 2), camera(5, 2), camera(6, 2)};
    sim.fleet.cameras[2].faults = {"twice", "junk511", "junk513"};
    sim.fleet.cameras[3].faults = {"silent"};
    sim.fleet.cameras[4].faults = {"unknowncmd"};
    sim.feed(searchRequest(1));
    ASSERT_EQ(sim.out.size(), 8u);  // 1, 2, 3 (junk, junk, reply, repeat), 5 (unknown), 6
    EXPECT_EQ(sim.out[2].bytes.size(), 511u);
    EXPECT_EQ(sim.out[3].bytes.size(), 513u);
    EXPECT_TRUE(sim.out[2].paced);

    CameraStore store;
    RecordingTransport transport;
    TraceLog off;
    ScaledClock clock;
    DatagramLink link(store, transport, off, clock);
    for (const auto& o : sim.out) link.handleDatagram(o.bytes.data(), o.bytes.size());
    // 4 is silent and 5 answered with an unknown command: 1, 2, 3 and 6 are listed once.
    ASSERT_EQ(store.m_nFindWrite, 4);
    EXPECT_EQ(fieldUtf8(store.m_CamTable[0].szMac), "00:80:45:00:00:01");
    EXPECT_EQ(fieldUtf8(store.m_CamTable[1].szMac), "00:80:45:00:00:02");
    EXPECT_EQ(fieldUtf8(store.m_CamTable[2].szTitle), "Cam");  // never the junk's title
    EXPECT_EQ(fieldUtf8(store.m_CamTable[3].szMac), "00:80:45:00:00:06");
    EXPECT_EQ(transport.count(kSearchAck), 4u);

    // The acknowledgements reach the simulator, one per camera.
    for (const auto& s : transport.sent()) sim.feed(s.datagram);
    const auto acks = sim.responder.acknowledgements();
    EXPECT_EQ(acks.size(), 4u);
    EXPECT_EQ(acks.at("00:80:45:00:00:03"), 1);
}

TEST(CamsimDatagrams, IpSettingVersion2) {
    Sim sim;
    sim.fleet.cameras = {camera(1, 2), camera(2, 2)};
    sim.fleet.cameras[1].factory = true;
    sim.feed(ipSetting("00:80:45:00:00:02", "172.16.5.5", 2));
    ASSERT_EQ(sim.changed, std::vector<std::size_t>{1});
    ASSERT_EQ(sim.out.size(), 1u);
    SetReplyEntry reply;
    ASSERT_TRUE(decodeSetReply(sim.out[0].bytes.data(), sim.out[0].bytes.size(), reply));
    EXPECT_EQ(fieldUtf8(reply.szMac), "00:80:45:00:00:02");
    EXPECT_EQ(reply.wResult, 201);
    EXPECT_EQ(sim.out[0].source, 0xAC100505u);  // answers from its new address
    const SimCamera& c = sim.fleet.cameras[1];
    EXPECT_EQ(c.ip, "172.16.5.5");
    EXPECT_EQ(c.mask, "255.255.0.0");
    EXPECT_EQ(c.gateway, "192.168.0.254");
    EXPECT_EQ(c.port, 8080);
    EXPECT_TRUE(c.ssl);
    EXPECT_EQ(c.title, "New");
    EXPECT_FALSE(c.factory);
    EXPECT_EQ(sim.fleet.cameras[0].ip, "192.168.0.2");  // the other camera stays

    // Wrong credentials: refused, nothing changes.
    sim.feed(ipSetting("00:80:45:00:00:01", "172.16.5.6", 2, "admin", "wrong"));
    EXPECT_TRUE(sim.changed.empty());
    ASSERT_TRUE(decodeSetReply(sim.out.at(0).bytes.data(), kSize, reply));
    EXPECT_EQ(reply.wResult, kResultBadCredentials);
    EXPECT_EQ(sim.fleet.cameras[0].ip, "192.168.0.2");

    // A MAC no camera has: silence.
    sim.feed(ipSetting("00:80:45:00:00:09", "172.16.5.6", 2));
    EXPECT_TRUE(sim.out.empty());
}

TEST(CamsimDatagrams, IpSettingFaultsAndVersion1) {
    Sim sim;
    sim.fleet.cameras = {camera(1, 2), camera(2, 2), camera(3, 2), camera(4, 1), camera(5, 2)};
    sim.fleet.cameras[0].faults = {"badcreds"};
    sim.fleet.cameras[1].faults = {"result"};
    sim.fleet.cameras[1].faultArgs["result"] = "200";
    sim.fleet.cameras[2].faults = {"twice"};
    sim.fleet.cameras[4].faults = {"silent"};
    SetReplyEntry reply;

    sim.feed(ipSetting("00:80:45:00:00:01", "10.0.0.1", 2));
    ASSERT_EQ(sim.out.size(), 1u);
    decodeSetReply(sim.out[0].bytes.data(), kSize, reply);
    EXPECT_EQ(reply.wResult, kResultBadCredentials);

    sim.feed(ipSetting("00:80:45:00:00:02", "10.0.0.2", 2));
    decodeSetReply(sim.out.at(0).bytes.data(), kSize, reply);
    EXPECT_EQ(reply.wResult, 200);
    EXPECT_TRUE(sim.changed.empty());

    sim.feed(ipSetting("00:80:45:00:00:03", "10.0.0.3", 2));
    EXPECT_EQ(sim.out.size(), 2u);
    EXPECT_EQ(sim.changed.size(), 1u);

    // Version 1 cameras read 18 bytes and no credentials.
    sim.feed(ipSetting("00:80:45:00:00:04", "10.0.0.4", 1, "nobody", "nothing", "Ignored"));
    decodeSetReply(sim.out.at(0).bytes.data(), kSize, reply);
    EXPECT_EQ(reply.wResult, 201);
    EXPECT_EQ(sim.fleet.cameras[3].ip, "10.0.0.4");
    EXPECT_EQ(sim.fleet.cameras[3].title, "Cam");

    sim.feed(ipSetting("00:80:45:00:00:05", "10.0.0.5", 2));
    EXPECT_TRUE(sim.out.empty());
    EXPECT_EQ(sim.fleet.cameras[4].ip, "192.168.0.2");

    // An unusable address is refused.
    sim.feed(ipSetting("00:80:45:00:00:03", "not-an-ip", 2));
    decodeSetReply(sim.out.at(0).bytes.data(), kSize, reply);
    EXPECT_EQ(reply.wResult, kResultBadSetting);
    EXPECT_EQ(sim.fleet.cameras[2].ip, "10.0.0.3");
}

TEST(CamsimDatagrams, CommandReadingStaysInsideTheDatagram) {
    Datagram d = ipSetting("00:80:45:00:00:01", "10.0.0.1", 2);
    putU16(d.data() + 32 + 114, 0xFFFF);                 // title length far past the end
    std::memset(d.data() + 32 + 116, 'T', kSize - 148);  // and no zero byte
    std::memset(d.data() + 32 + 20, 'A', 90);            // credentials fill their field
    IpSettingCommand cmd;
    ASSERT_TRUE(decodeIpSettingCommand(d.data(), kSize, 2, cmd));
    EXPECT_EQ(cmd.title.size(), kSize - 148);
    EXPECT_EQ(cmd.credentials.size(), 0u);  // 90 'A's are not valid Base64 (not a multiple of 4)
    EXPECT_FALSE(cmd.credentialsDecoded);
    EXPECT_FALSE(decodeIpSettingCommand(d.data(), 511, 2, cmd));
}
