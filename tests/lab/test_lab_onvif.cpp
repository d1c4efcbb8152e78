// Other makers' ONVIF cameras on a simulated LAN: a WS-Discovery Probe sent from the PC with the
// program's own builder finds exactly the ONVIF devices (one of ours among them, not the
// printer), and the device service's time request measures a clock that is two hours off and
// gives up on a silent service within its limit.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>

#include "lab_harness.h"

using namespace lanrove::lab;
using nlohmann::json;

namespace {

std::string driver() {
    return binaryDir() + "/tests/lanrove-onvif-driver";
}

std::string onvifFleet() {
    return sourceDir() + "/lab/fleets/onvif.json";
}

const std::set<std::string> kOnvifEndpoints = {"urn:uuid:4c52e000-0b02-4000-8000-001b7c000b02",
                                               "urn:uuid:acde0051-0000-4000-8000-00ac00000051",
                                               "urn:uuid:b0ea0052-0000-4000-8000-00b000000052",
                                               "urn:uuid:c0ba0053-0000-4000-8000-00c000000053"};

}  // namespace

TEST(LabOnvif, AProbeFindsExactlyTheFourOnvifDevices) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string d = quote(driver());
    const Result r =
        runInLab(ws, {"--fleet", onvifFleet(), "--scale", "0.2"},
                 "echo @@nvt\n" + d + " probe --type nvt --wait-ms 5000\n" + "echo @@device\n" + d +
                     " probe --type device --wait-ms 5000\n" + "echo @@any\n" + d +
                     " probe --type any --wait-ms 5000\n" + "echo @@end\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char* type : {"nvt", "device", "any"}) {
        const json out = parseSection(r.out, type);
        ASSERT_TRUE(out.is_object()) << type << ": " << r.out;
        std::set<std::string> endpoints;
        for (const auto& m : out["matches"]) {
            EXPECT_TRUE(endpoints.insert(m["endpoint"].get<std::string>()).second)
                << type << ": answered twice: " << m;
            // Each device answers from the address its XAddr names.
            EXPECT_EQ(m["source"], m["address"]) << m;
        }
        EXPECT_EQ(endpoints, kOnvifEndpoints) << type << ": " << out.dump();
        EXPECT_EQ(out["bad"], 0) << type;
        EXPECT_EQ(out["unrelated"], 0) << type;
        // The printer answers only the probe without types, and the parser drops it.
        EXPECT_EQ(out["dropped"], std::string(type) == "any" ? 1 : 0) << type;
        EXPECT_EQ(out["replies"], std::string(type) == "any" ? 5 : 4) << type;
    }
    const json any = parseSection(r.out, "any");
    bool sawGate = false;
    for (const auto& m : any["matches"]) {
        if (m["endpoint"] != "urn:uuid:acde0051-0000-4000-8000-00ac00000051") continue;
        sawGate = true;
        EXPECT_EQ(m["maker"], "Acme");
        EXPECT_EQ(m["model"], "X1");
        EXPECT_EQ(m["name"], "Gate");
        EXPECT_EQ(m["location"], "Yard");
        EXPECT_EQ(m["address"], "192.168.0.51");
        EXPECT_EQ(m["port"], 80);
    }
    EXPECT_TRUE(sawGate);
}

TEST(LabOnvif, TheTimeRequestMeasuresTheOffsetAndGivesUpOnASilentService) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string d = quote(driver());
    const Result r = runInLab(
        ws, {"--fleet", onvifFleet(), "--scale", "0.2"},
        "echo @@ahead\n" + d + " time --xaddr http://192.168.0.51:80/onvif/device_service\n" +
            "echo @@ours\n" + d + " time --xaddr http://192.168.0.22:80/onvif/device_service\n" +
            "echo @@cobalt\n" + d +
            " time --xaddr http://192.168.0.53:2020/onvif/device_service\n" + "echo @@silent\n" +
            d + " time --xaddr http://192.168.0.52:8080/onvif/device_service --timeout-ms 5000\n" +
            "echo @@cgi\n" + d + " time --xaddr http://192.168.0.51:8081/onvif/device_service\n" +
            "echo @@end\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json ahead = parseSection(r.out, "ahead");
    ASSERT_EQ(ahead["status"], "ok") << r.out;
    EXPECT_NEAR(ahead["offset_s"].get<double>(), 7200, 3);
    for (const char* name : {"ours", "cobalt"}) {
        const json t = parseSection(r.out, name);
        ASSERT_EQ(t["status"], "ok") << name << ": " << r.out;
        EXPECT_NEAR(t["offset_s"].get<double>(), 0, 3) << name;
    }
    const json silent = parseSection(r.out, "silent");
    EXPECT_EQ(silent["status"], "timeout") << r.out;
    const long limit = silent["scaled_limit_ms"].get<long>();
    EXPECT_EQ(limit, 1000);
    EXPECT_GE(silent["elapsed_ms"].get<long>(), limit * 9 / 10);
    EXPECT_LT(silent["elapsed_ms"].get<long>(), limit * 5);
    // Nothing listens where the device has no service.
    EXPECT_EQ(parseSection(r.out, "cgi")["status"], "unreachable") << r.out;
}
