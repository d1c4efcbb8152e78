// The doctor's rules over measured probe answers, and the changes journal.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

#include "discovery/ipv4_address.h"
#include "doctor_fakes.h"
#include "runs/change_journal.h"
#include "runs/site_doctor.h"
#include "support/text.h"

using namespace lanrove;

using namespace lanrove::test;

namespace {

std::multimap<std::string, std::string> codes(const DoctorResult& r) {
    std::multimap<std::string, std::string> m;
    for (const Finding& f : r.findings) m.emplace(f.mac, f.code);
    return m;
}

}  // namespace

TEST(SiteDoctor, HealthyCamerasGiveNoFindings) {
    auto table = std::make_unique<CameraTable>();
    camera(*table, 0, "A", "192.168.0.20", "192.168.0.1");
    camera(*table, 1, "B", "192.168.0.21", "0.0.0.0", "255.255.255.0", "443", "1");
    FakeProbes p;
    p.echoes["192.168.0.1"] = kEchoSuccess;
    const DoctorResult r = runDoctor(
        {adapter("192.168.0.10", "255.255.255.0", "192.168.0.1", "eth0")}, *table, {0, 1}, p);
    EXPECT_TRUE(r.findings.empty()) << r.findings.front().code;
    EXPECT_EQ(r.camerasChecked, 2);
}

TEST(SiteDoctor, PcFindingsAreMeasuredNotGuessed) {
    auto table = std::make_unique<CameraTable>();
    FakeProbes p;
    p.dgram = p.raw = false;
    p.bindError = EADDRINUSE;
    // Two adapters on one subnet; no ICMP: the gateway is not asked, so no gateway finding.
    const DoctorResult r = runDoctor({adapter("192.168.0.10", "255.255.255.0", "192.168.0.1", "a"),
                                      adapter("192.168.0.11", "255.255.0.0", "0.0.0.0", "b")},
                                     *table, {}, p);
    const auto c = codes(r);
    EXPECT_EQ(c.count(""), 3u);
    EXPECT_EQ(c.find("")->second, finding::kPcIcmpBlocked);
    bool port = false, shared = false;
    for (const Finding& f : r.findings) {
        port = port || f.code == finding::kPcPortBusy;
        shared = shared || f.code == finding::kPcSharedSubnet;
        if (f.code == finding::kPcIcmpBlocked) {
            EXPECT_NE(f.evidence.find("\"1 0\""), std::string::npos);
        }
    }
    EXPECT_TRUE(port && shared);

    const DoctorResult none = runDoctor({}, *table, {}, p);
    ASSERT_FALSE(none.findings.empty());
    EXPECT_EQ(none.findings.front().code, finding::kPcNoAddress);
}

TEST(SiteDoctor, CameraFaultsAndTheirEvidence) {
    auto table = std::make_unique<CameraTable>();
    FakeProbes p;
    faultyCameras(*table, p);
    p.echoes["192.168.0.254"] = kEchoSuccess;  // taken: the next one down is offered
    const DoctorResult r = runDoctor({adapter("192.168.0.10", "255.255.255.0", "0.0.0.0", "eth0")},
                                     *table, {0, 1, 2, 3, 4, 5, 6, 7}, p);
    const std::multimap<std::string, std::string> expected = {
        {"CLOSED", finding::kHttpClosed},    {"SILENT", finding::kHttpSilent},
        {"MISMATCH", finding::kSslMismatch}, {"LOGIN", finding::kLoginRefused},
        {"LOGIN", finding::kFirmwareReady},  {"GW", finding::kForeignGateway},
        {"DUP1", finding::kSharedAddress},   {"DUP2", finding::kSharedAddress},
        {"FAR", finding::kOutsideSubnet}};
    EXPECT_EQ(codes(r), expected);
    for (const Finding& f : r.findings) {
        if (f.code == finding::kOutsideSubnet) {
            EXPECT_NE(f.fix.find("ip addr add 10.20.255.254/16 dev eth0"), std::string::npos);
            EXPECT_NE(f.fix.find("Manual setting to 192.168.0.253"), std::string::npos) << f.fix;
        }
        if (f.code == finding::kSharedAddress && f.mac == "DUP1") {
            EXPECT_NE(f.evidence.find("DUP2"), std::string::npos);
        }
    }
}

HardwareAddress hw(std::uint8_t last) {
    return {0x00, 0x80, 0x45, 0x00, 0x09, last};
}

TEST(SiteDoctor, AddressAnsweredByAHostThatIsNoCamera) {
    auto table = std::make_unique<CameraTable>();
    camera(*table, 0, "00:80:45:00:09:01", "192.168.0.20");  // a PC answers ARP beside it
    camera(*table, 1, "00:80:45:00:09:02", "192.168.0.21");  // only itself answers
    camera(*table, 2, "00:80:45:00:09:03", "192.168.0.22");  // two cameras, one address
    camera(*table, 3, "00:80:45:00:09:04", "192.168.0.22");
    camera(*table, 4, "00:80:45:00:09:05", "192.168.0.10");  // the PC's own address
    camera(*table, 5, "00:80:45:00:09:06", "192.168.0.23");  // one foreign answer only
    camera(*table, 6, "00:80:45:00:09:07", "10.1.1.1", "0.0.0.0", "255.255.0.0");  // far away
    FakeProbes p;
    p.arp = ArpAnswers{{*ipv4::parse("192.168.0.20"), {hw(0x01), hw(0xEE)}},
                       {*ipv4::parse("192.168.0.21"), {hw(0x02)}},
                       {*ipv4::parse("192.168.0.22"), {hw(0x03), hw(0x04)}},
                       {*ipv4::parse("192.168.0.23"), {hw(0xDD)}}};
    // The web port of the first address answers closed: that may be the PC's, not measured.
    p.tcp["192.168.0.20"] = TcpOutcome::Refused;
    const DoctorResult r = runDoctor({adapter("192.168.0.10", "255.255.255.0", "0.0.0.0", "eth0")},
                                     *table, {0, 1, 2, 3, 4, 5, 6}, p);
    const std::multimap<std::string, std::string> expected = {
        {"00:80:45:00:09:01", finding::kHostAddress},
        {"00:80:45:00:09:03", finding::kSharedAddress},
        {"00:80:45:00:09:04", finding::kSharedAddress},
        {"00:80:45:00:09:05", finding::kHostAddress},
        {"00:80:45:00:09:07", finding::kOutsideSubnet}};
    EXPECT_EQ(codes(r), expected);
    for (const Finding& f : r.findings) {
        if (f.code != finding::kHostAddress) continue;
        EXPECT_EQ(f.severity, Severity::Error);
        if (f.ip == "192.168.0.20") {
            EXPECT_NE(f.evidence.find("00:80:45:00:09:EE"), std::string::npos) << f.evidence;
            EXPECT_NE(f.fix.find("00:80:45:00:09:EE"), std::string::npos) << f.fix;
        } else {
            EXPECT_NE(f.evidence.find("eth0"), std::string::npos) << f.evidence;
        }
    }
    // Only the addresses on the adapter's segment were asked, the PC's own one not.
    std::sort(p.arpTargets.begin(), p.arpTargets.end());
    EXPECT_EQ(p.arpTargets.size(), 5u);
    EXPECT_EQ(std::count(p.arpTargets.begin(), p.arpTargets.end(), *ipv4::parse("192.168.0.10")),
              0);

    // Without a packet socket nothing is claimed.
    p.arp.reset();
    const DoctorResult unmeasured =
        runDoctor({adapter("192.168.0.10", "255.255.255.0", "0.0.0.0", "eth0")}, *table, {0}, p);
    EXPECT_EQ(
        codes(unmeasured),
        (std::multimap<std::string, std::string>{{"00:80:45:00:09:01", finding::kHttpClosed}}));
}

TEST(ArpProbe, RequestAndReplyLayout) {
    const HardwareAddress own = hw(0x10);
    const auto request =
        buildArpRequest(own, *ipv4::parse("192.168.0.10"), *ipv4::parse("192.168.0.20"));
    // A request is no reply.
    EXPECT_FALSE(parseArpReply(request.data(), request.size()));
    auto reply = request;
    reply[7] = 2;  // operation: reply
    const auto parsed = parseArpReply(reply.data(), reply.size());
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->senderIp, *ipv4::parse("192.168.0.10"));
    EXPECT_EQ(hardwareText(parsed->senderMac), "00:80:45:00:09:10");
    EXPECT_EQ(request[24], 192);
    EXPECT_EQ(request[27], 20);
    EXPECT_FALSE(parseArpReply(reply.data(), reply.size() - 1));
    reply[2] = 0x86;  // not IPv4
    EXPECT_FALSE(parseArpReply(reply.data(), reply.size()));
}

TEST(SiteDoctor, SecondaryAddressSkipsCamerasAtTheTop) {
    const auto ip = *ipv4::parse("10.1.1.5");
    const auto mask = *ipv4::parse("255.255.255.0");
    EXPECT_EQ(secondaryAddressCommand(ip, mask, {*ipv4::parse("10.1.1.254")}, "eth1"),
              "ip addr add 10.1.1.253/24 dev eth1");
    // A /31 or /32 has no host address to spare.
    EXPECT_EQ(secondaryAddressCommand(ip, ipv4::kAllOnes, {}, "eth1"), "");
}

TEST(ChangeJournal, AppendsAndReadsBackSkippingBrokenLines) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("lanrove-journal-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    ChangeJournal j;
    CameraEntry before{};
    setField(before.szMac, std::string_view("00:80:45:00:00:01"));
    setField(before.szIp, std::string_view("192.168.0.2"));
    EXPECT_FALSE(j.append({}));  // not opened: nothing written
    j.open(ChangeJournal::fileIn(dir));
    ASSERT_TRUE(j.append({"", "setting", "00:80:45:00:00:01", networkSummary(before),
                          "192.168.0.100/255.255.255.0", "accepted"}));
    { std::ofstream(j.file(), std::ios::app) << "{\"time\": \"2026-01-01 00:0"; }  // cut off
    { std::ofstream(j.file(), std::ios::app) << "\n"; }
    ASSERT_TRUE(j.append({"2026-12-08 10:00:00", "reset", "m", "a", "b", "failed (400)"}));
    const auto records = ChangeJournal::read(j.file());
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].kind, "setting");
    EXPECT_EQ(records[0].time.size(), 19u);
    EXPECT_NE(records[0].before.find("192.168.0.2/"), std::string::npos);
    EXPECT_EQ(records[1].result, "failed (400)");
    std::filesystem::remove_all(dir);
}

namespace {

const Finding* findingOf(const DoctorResult& r, const std::string& mac, const char* code) {
    for (const Finding& f : r.findings)
        if (f.mac == mac && f.code == code) return &f;
    return nullptr;
}

}  // namespace

TEST(SiteDoctor, ChangedCertificateStopsTheChecksBeforePlainHttpIsTried) {
    auto table = std::make_unique<CameraTable>();
    camera(*table, 0, "00:1B:7C:00:0C:01", "192.168.0.30", "0.0.0.0", "255.255.255.0", "443", "1");
    FakeProbes p;
    p.http["https://192.168.0.30:443/cgi-bin/lang.cgi"] = kHttpPinRefused;
    CameraPin pin;
    pin.fingerprint = "AA:AA";
    pin.offered = "BB:BB";
    p.pins["00:1B:7C:00:0C:01"] = pin;
    const DoctorResult r =
        runDoctor({adapter("192.168.0.10", "255.255.255.0", "0.0.0.0", "eth0")}, *table, {0}, p);
    const Finding* f = findingOf(r, "00:1B:7C:00:0C:01", finding::kCertificateChanged);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->severity, Severity::Error);
    EXPECT_NE(f->evidence.find("AA:AA"), std::string::npos) << f->evidence;
    EXPECT_NE(f->evidence.find("BB:BB"), std::string::npos) << f->evidence;
    EXPECT_NE(f->fix.find("lanrove-cli trust --mac 00:1B:7C:00:0C:01"), std::string::npos);
    // Nothing else was tried: no login in clear text to whoever holds the address.
    EXPECT_EQ(p.asked, (std::vector<std::string>{"https://192.168.0.30:443/cgi-bin/lang.cgi"}));
    EXPECT_EQ(r.findings.size(), 1u);
}

TEST(SiteDoctor, LegacyTlsIsInfoOnlyWhereHttpsAnswered) {
    auto table = std::make_unique<CameraTable>();
    camera(*table, 0, "OLD", "192.168.0.31", "0.0.0.0", "255.255.255.0", "443", "1");
    camera(*table, 1, "PLAIN", "192.168.0.32");  // a stale note of an HTTP camera
    FakeProbes p;
    CameraPin old;
    old.fingerprint = "AA:AA";
    old.legacyTls = "TLSv1, RSA 1024 bits, sha1WithRSAEncryption";
    p.pins["OLD"] = old;
    p.pins["PLAIN"] = old;
    const DoctorResult r =
        runDoctor({adapter("192.168.0.10", "255.255.255.0", "0.0.0.0", "eth0")}, *table, {0, 1}, p);
    ASSERT_EQ(r.findings.size(), 1u);
    EXPECT_EQ(r.findings[0].code, finding::kLegacyTls);
    EXPECT_EQ(r.findings[0].mac, "OLD");
    EXPECT_EQ(r.findings[0].severity, Severity::Info);
    EXPECT_NE(r.findings[0].evidence.find("TLSv1, RSA 1024 bits"), std::string::npos);
}

TEST(SiteDoctor, SpoofedCameraIsReportedAndGetsNoLogin) {
    auto table = std::make_unique<CameraTable>();
    camera(*table, 0, "SPOOF", "192.168.0.33");
    camera(*table, 1, "FINE", "192.168.0.34");
    FakeProbes p;
    p.spoofed["SPOOF"] = "192.168.0.33, 192.168.0.99";
    const DoctorResult r =
        runDoctor({adapter("192.168.0.10", "255.255.255.0", "0.0.0.0", "eth0")}, *table, {0, 1}, p);
    const Finding* f = findingOf(r, "SPOOF", finding::kSpoofedReply);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->severity, Severity::Error);
    EXPECT_NE(f->evidence.find("192.168.0.99"), std::string::npos);
    EXPECT_EQ(p.asked, (std::vector<std::string>{"http://192.168.0.34:80/cgi-bin/lang.cgi"}));
}

namespace {}  // namespace

TEST(SiteDoctor, FactoryFreshCamerasAtTheFactoryAddressGiveOneInfoForTheGroup) {
    auto table = std::make_unique<CameraTable>();
    factoryCamera(*table, 0, "F1");
    factoryCamera(*table, 1, "F2", 1);  // version 1: judged by its address
    factoryCamera(*table, 2, "F3");
    FakeProbes p;
    // The PC is not in 192.168.0.0/24: the cameras are outside its subnet as well.
    const DoctorResult r =
        runDoctor({adapter("10.0.0.10", "255.255.255.0", "0.0.0.0", "eth0")}, *table, {0, 1, 2}, p);
    ASSERT_EQ(r.findings.size(), 1U) << r.findings.back().code;
    const Finding& f = r.findings.front();
    EXPECT_EQ(f.code, finding::kFactoryFresh);
    EXPECT_EQ(f.severity, Severity::Info);
    EXPECT_EQ(f.evidence,
              "3 factory-fresh cameras at 192.168.0.2: give them addresses with Auto setting");
    EXPECT_EQ(f.recordIndex, -1);
    EXPECT_EQ(f.ip, "192.168.0.2");
    EXPECT_EQ(f.records, (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(p.asked.empty());  // a shared address gets no login
}

TEST(SiteDoctor, ConfiguredCameraAtTheFactoryAddressStillClashes) {
    auto table = std::make_unique<CameraTable>();
    factoryCamera(*table, 0, "F1");
    factoryCamera(*table, 1, "F2");
    factoryCamera(*table, 2, "USED");  // configured, then moved back to the factory address
    (*table)[2].bFactory = 0;
    (*table)[2].dwResult = kResultOverlap;
    factoryCamera(*table, 3, "FAILED");  // factory state, but its last setting failed
    (*table)[3].dwResult = 500;
    FakeProbes p;
    const DoctorResult r = runDoctor({adapter("192.168.0.10", "255.255.255.0", "0.0.0.0", "eth0")},
                                     *table, {0, 1, 2, 3}, p);
    const std::multimap<std::string, std::string> expected = {{"", finding::kFactoryFresh},
                                                              {"F1", finding::kSharedAddress},
                                                              {"F2", finding::kSharedAddress},
                                                              {"USED", finding::kSharedAddress},
                                                              {"FAILED", finding::kSharedAddress}};
    EXPECT_EQ(codes(r), expected);
    const Finding* group = findingOf(r, "", finding::kFactoryFresh);
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->records, (std::vector<int>{0, 1}));
    EXPECT_EQ(group->evidence.rfind("2 factory-fresh cameras", 0), 0U) << group->evidence;
    // The fresh cameras clash only with the others, not with each other.
    const Finding* f1 = findingOf(r, "F1", finding::kSharedAddress);
    ASSERT_NE(f1, nullptr);
    EXPECT_EQ(f1->evidence, "192.168.0.2 is also used by USED, FAILED");
    const Finding* used = findingOf(r, "USED", finding::kSharedAddress);
    ASSERT_NE(used, nullptr);
    EXPECT_EQ(used->evidence, "192.168.0.2 is also used by F1, F2, FAILED");
}

TEST(SiteDoctor, SingleFactoryFreshCameraKeepsItsOwnChecks) {
    auto table = std::make_unique<CameraTable>();
    factoryCamera(*table, 0, "F1");
    FakeProbes p;
    const DoctorResult r =
        runDoctor({adapter("10.0.0.10", "255.255.255.0", "0.0.0.0", "eth0")}, *table, {0}, p);
    const std::multimap<std::string, std::string> expected = {{"F1", finding::kOutsideSubnet}};
    EXPECT_EQ(codes(r), expected);
}

TEST(ChangeJournal, FirmwareVersionTextsNameEveryComponentEitherSideRead) {
    CameraEntry before{}, after{};
    before.clear();
    after.clear();
    setField(before.szNetMainVer, std::string_view(" 2.00(20100101) "));
    setField(after.szNetMainVer, std::string_view("2.00(20100415)"));
    setField(after.szCamMainVer, std::string_view("1.10(20100301)"));  // not read before
    FirmwareVersionTexts t = firmwareVersionTexts(before, after, true);
    EXPECT_EQ(t.before, "CAM MAIN not read, NET MAIN 2.00(20100101)");
    EXPECT_EQ(t.after, "CAM MAIN 1.10(20100301), NET MAIN 2.00(20100415)");
    // Nothing read after: what the record still holds is no evidence.
    t = firmwareVersionTexts(before, after, false);
    EXPECT_EQ(t.before, "NET MAIN 2.00(20100101)");
    EXPECT_EQ(t.after, "NET MAIN not read");
    // No component at all: the list's firmware text, never a blank.
    before.clear();
    after.clear();
    setField(before.szFirmVer, std::string_view("1.00"));
    t = firmwareVersionTexts(before, after, true);
    EXPECT_EQ(t.before, "1.00");
    EXPECT_EQ(t.after, "not read");
}
