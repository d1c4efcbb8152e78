// The doctor on a lab LAN: one camera of each fault, and the PC's own findings.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "lab_harness.h"

using namespace lanrove::lab;
using nlohmann::json;

namespace {

constexpr const char* kFaultFleet = R"({
  "defaults": {"model": "KT-5200", "firmware": "1.00", "mask": "255.255.255.0",
               "gateway": "192.168.0.1"},
  "cameras": [
    {"mac": "00:80:45:00:01:01", "ip": "192.168.0.20", "title": "Healthy"},
    {"mac": "00:80:45:00:01:02", "ip": "192.168.0.21", "port": 443, "ssl": true, "title": "Healthy SSL"},
    {"mac": "00:80:45:00:01:03", "ip": "192.168.0.22", "faults": ["closedport"]},
    {"mac": "00:80:45:00:01:04", "ip": "192.168.0.23", "port": 443, "ssl": true, "faults": ["sslmismatch"]},
    {"mac": "00:80:45:00:01:05", "ip": "192.168.0.24",
     "accounts": {"admin": {"user": "vorly", "password": "changed"}}},
    {"mac": "00:80:45:00:01:06", "ip": "192.168.0.25", "gateway": "10.9.9.1"},
    {"mac": "00:80:45:00:01:07", "ip": "10.20.30.40", "mask": "255.255.0.0", "gateway": "0.0.0.0"}
  ]
})";

// Finding codes by camera MAC ("" for the PC).
std::map<std::string, std::set<std::string>> codesByMac(const json& out) {
    std::map<std::string, std::set<std::string>> m;
    for (const json& f : out["findings"]) m[f["mac"].get<std::string>()].insert(f["code"]);
    return m;
}

}  // namespace

TEST(LabDoctor, EachFaultGivesExactlyItsFinding) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", kFaultFleet);
    const Result r = runInLab(ws, {"--fleet", fleet, "--scale", "0.05"},
                              "$CLI doctor --json --home " + quote(ws.path("")) + "\n");
    ASSERT_EQ(r.exitCode, 1) << r.err << r.out;  // errors found
    const json out = json::parse(r.out, nullptr, false);
    ASSERT_FALSE(out.is_discarded()) << r.out << r.err;
    EXPECT_EQ(out["cameras"], 7);
    const auto codes = codesByMac(out);
    const std::map<std::string, std::set<std::string>> expected = {
        {"00:80:45:00:01:03", {"camera-http-closed"}},
        {"00:80:45:00:01:04", {"camera-ssl-mismatch"}},
        {"00:80:45:00:01:05", {"camera-login-refused"}},
        {"00:80:45:00:01:06", {"camera-foreign-gateway"}},
        {"00:80:45:00:01:07", {"camera-outside-subnet"}},
    };
    EXPECT_EQ(codes, expected) << out.dump(2);
    for (const json& f : out["findings"]) {
        EXPECT_FALSE(f["evidence"].get<std::string>().empty());
        EXPECT_FALSE(f["fix"].get<std::string>().empty());
        if (f["code"] == "camera-outside-subnet") {
            const std::string fix = f["fix"];
            EXPECT_NE(fix.find("\"ip addr add 10.20.255.254/16 dev eth0\""), std::string::npos)
                << fix;
            // Nobody answers for the top of the PC's subnet: the probe offers it.
            EXPECT_NE(fix.find("Manual setting to 192.168.0.254"), std::string::npos) << fix;
            EXPECT_EQ(f["severity"], "error");
        }
        if (f["code"] == "camera-ssl-mismatch") {
            EXPECT_NE(f["evidence"].get<std::string>().find("answered plain HTTP"),
                      std::string::npos);
        }
    }
}

TEST(LabDoctor, SilentGatewayAndBusyPortAreFindingsOnThePc) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write(
        "fleet.json", R"({"cameras": [{"mac": "00:80:45:00:02:01", "ip": "192.168.0.20"}]})");
    // The default route points at an address nobody has, and another program holds port 10000.
    const Result r =
        runInLab(ws, {"--fleet", fleet, "--scale", "0.05"},
                 "ip route replace default via 192.168.0.254 dev eth0\n"
                 "/usr/bin/python3 -c 'import socket,time; s=socket.socket(socket.AF_INET, "
                 "socket.SOCK_DGRAM); s.bind((\"0.0.0.0\", 10000)); time.sleep(60)' &\n"
                 "holder=$!\nsleep 0.5\n"
                 "$CLI doctor --json --home " +
                     quote(ws.path("")) + "\nrc=$?\nkill $holder\nexit $rc\n");
    ASSERT_EQ(r.exitCode, 1) << r.err << r.out;
    const json out = json::parse(r.out, nullptr, false);
    ASSERT_FALSE(out.is_discarded()) << r.out << r.err;
    std::set<std::string> pc;
    for (const json& f : out["findings"])
        if (f["scope"] == "pc") pc.insert(f["code"]);
    EXPECT_EQ(pc, (std::set<std::string>{"pc-gateway-silent", "pc-port-busy"})) << out.dump(2);
    for (const json& f : out["findings"])
        if (f["code"] == "pc-gateway-silent") {
            EXPECT_NE(f["evidence"].get<std::string>().find("192.168.0.254"), std::string::npos);
        }
}

TEST(LabDoctor, FactoryFreshCamerasAtTheFactoryAddressAreOneInfo) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", R"({"cameras": [
        {"mac": "00:80:45:00:04:01", "ip": "192.168.0.2", "proto": 2, "factory": true},
        {"mac": "00:80:45:00:04:02", "ip": "192.168.0.2", "proto": 2, "factory": true},
        {"mac": "00:80:45:00:04:03", "ip": "192.168.0.2", "proto": 2, "factory": true}]})");
    const Result r = runInLab(ws, {"--fleet", fleet, "--scale", "0.05"},
                              "$CLI doctor --json --home " + quote(ws.path("")) + "\n");
    const json out = json::parse(r.out, nullptr, false);
    ASSERT_FALSE(out.is_discarded()) << r.out << r.err;
    EXPECT_EQ(r.exitCode, 0) << out.dump(2);  // no error
    EXPECT_EQ(out["cameras"], 3);
    int infos = 0;
    for (const json& f : out["findings"]) {
        EXPECT_NE(f["severity"], "error") << f.dump();
        if (f["code"] != "cameras-factory-fresh") continue;
        ++infos;
        EXPECT_EQ(f["severity"], "info");
        EXPECT_EQ(f["scope"], "cameras");
        EXPECT_EQ(f["evidence"],
                  "3 factory-fresh cameras at 192.168.0.2: give them addresses with Auto setting");
        EXPECT_EQ(f["nos"].size(), 3u);
    }
    EXPECT_EQ(infos, 1) << out.dump(2);
}

TEST(LabDoctor, AddressHeldByAHostThatIsNoCamera) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", R"({
      "defaults": {"model": "KT-5200", "mask": "255.255.255.0", "gateway": "192.168.0.1"},
      "cameras": [
        {"mac": "00:80:45:00:03:01", "ip": "192.168.0.20"},
        {"mac": "00:80:45:00:03:02", "ip": "192.168.0.21"},
        {"mac": "00:80:45:00:03:03", "ip": "192.168.0.22"}
      ]})");
    // The gateway host, no camera, takes the third camera's address as a second one.
    const Result r = runInLab(ws, {"--fleet", fleet, "--scale", "0.05"},
                              "ip -n \"$LANROVE_LAB_GW_NS\" addr add 192.168.0.22/24 dev eth0\n"
                              "$CLI doctor --json --home " +
                                  quote(ws.path("")) + "\n");
    ASSERT_EQ(r.exitCode, 1) << r.err << r.out;
    const json out = json::parse(r.out, nullptr, false);
    ASSERT_FALSE(out.is_discarded()) << r.out << r.err;
    const std::map<std::string, std::set<std::string>> expected = {
        {"00:80:45:00:03:03", {"camera-host-address"}}};
    EXPECT_EQ(codesByMac(out), expected) << out.dump(2);
    for (const json& f : out["findings"]) {
        const std::string evidence = f["evidence"];
        EXPECT_NE(evidence.find("answered by 2 hardware addresses"), std::string::npos) << evidence;
    }
    // The ARP question adds well under a second to the checks.
    EXPECT_LT(out["seconds"]["checks"].get<double>(), 2.0);
}
