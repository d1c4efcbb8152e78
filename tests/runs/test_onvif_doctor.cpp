// The doctor on other makers' ONVIF cameras: a clock more than five seconds off, a device
// service that stays silent, an address outside every subnet; and the device of ours that
// also speaks ONVIF is not taken for another maker's.
#include <gtest/gtest.h>

#include "runs/onvif_doctor.h"

namespace lanrove {
namespace {

OnvifDevice device(const std::string& ip, const std::string& maker) {
    OnvifDevice d;
    d.match.endpoint = "urn:uuid:" + ip;
    d.match.address = ip;
    d.match.maker = maker;
    d.match.model = "X1";
    d.match.xaddrs = {"http://" + ip + "/onvif/device_service"};
    d.sourceIp = ip;
    d.mac = "00:11:22:33:44:55";
    return d;
}

AdapterEntry adapter() {
    AdapterEntry a{};
    AdapterEntry::setText(a.szIp, "192.168.0.10");
    AdapterEntry::setText(a.szMask, "255.255.255.0");
    AdapterEntry::setText(a.szIfName, "eth0");
    return a;
}

TEST(OnvifDoctor, SkewSilenceAndSubnetEachGiveTheirFinding) {
    const auto pc = std::chrono::system_clock::now();
    const std::vector<OnvifDevice> devices = {
        device("192.168.0.60", "Acme"),     // two hours ahead
        device("192.168.0.61", "Borealis"),  // silent
        device("192.168.0.62", "Cygnus"),    // three seconds: fine
        device("10.9.8.7", "Delta"),         // outside, on time
    };
    const OnvifTimeQuery query = [pc](const OnvifDevice& d) -> OnvifTimeAnswer {
        if (d.match.address == "192.168.0.60") return {pc + std::chrono::hours(2), {}};
        if (d.match.address == "192.168.0.61") return {std::nullopt, "timed out after 5 s"};
        if (d.match.address == "192.168.0.62") return {pc - std::chrono::seconds(3), {}};
        return {pc, {}};
    };
    const std::vector<Finding> f = diagnoseOnvif(devices, {adapter()}, query, [pc] { return pc; });
    ASSERT_EQ(f.size(), 3u);
    EXPECT_EQ(f[0].code, finding::kOnvifClockSkew);
    EXPECT_EQ(f[0].ip, "192.168.0.60");
    EXPECT_NE(f[0].evidence.find("7200 s ahead"), std::string::npos) << f[0].evidence;
    EXPECT_FALSE(f[0].fix.empty());
    EXPECT_EQ(f[1].code, finding::kOnvifServiceSilent);
    EXPECT_NE(f[1].evidence.find("timed out after 5 s"), std::string::npos);
    EXPECT_NE(f[1].evidence.find("/onvif/device_service"), std::string::npos);
    EXPECT_EQ(f[2].code, finding::kOutsideSubnet);
    EXPECT_EQ(f[2].severity, Severity::Error);
    EXPECT_NE(f[2].evidence.find("Delta X1 at 10.9.8.7"), std::string::npos) << f[2].evidence;
    for (const Finding& x : f) EXPECT_EQ(x.recordIndex, -1);
}

TEST(OnvifDoctor, ADeviceAtAListedAddressIsThatCamera) {
    std::vector<bool> alsoOnvif;
    const auto others = devicesBesides({device("192.168.0.60", "Acme"), device("192.168.0.70", "")},
                                       {"192.168.0.50", "192.168.0.70"}, alsoOnvif);
    ASSERT_EQ(others.size(), 1u);
    EXPECT_EQ(others[0].match.address, "192.168.0.60");
    EXPECT_EQ(alsoOnvif, (std::vector<bool>{false, true}));
}

}  // namespace
}  // namespace lanrove
