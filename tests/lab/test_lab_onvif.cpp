// Other makers' ONVIF cameras on a simulated LAN: a WS-Discovery Probe sent from the PC with the
// program's own builder finds exactly the ONVIF devices (one of ours among them, not the
// printer), and the device service's time request measures a clock that is two hours off and
// gives up on a silent service within its limit.
#include <gtest/gtest.h>

#include <map>
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

// The program itself on that segment: `search` lists every device once (ours first, the one of
// ours that also speaks ONVIF not twice, no printer), `--onvif-only` and `--no-onvif` split
// them, the doctor finds the skewed clock and the silent service, and the CSV list and the
// report carry the ONVIF rows.
TEST(LabOnvif, SearchDoctorCsvAndReportCarryTheOnvifCameras) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string home = ws.path("home");
    const std::string h = " --home " + quote(home);
    const Result r =
        runInLab(ws, {"--fleet", onvifFleet(), "--scale", "0.05"},
                 "mkdir -p " + quote(home) + "\n" + "echo @@search\n$CLI search --json" + h + "\n" +
                     "echo @@only\n$CLI search --json --onvif-only" + h + "\n" +
                     "echo @@none\n$CLI search --json --no-onvif" + h + "\n" +
                     "echo @@doctor\n$CLI doctor --json" + h + "\n" + "echo @@end\n" +
                     "$CLI search --csv" + h + " > " + quote(ws.path("list.csv")) + "\n" +
                     "$CLI report --quiet --out " + quote(ws.path("site.html")) + h + "\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;

    const json all = parseSection(r.out, "search");
    ASSERT_TRUE(all.is_object()) << r.out << r.err;
    std::multiset<std::string> ours, others;
    for (const auto& c : all["cameras"]) {
        if (c["kind"] == "lanrove") {
            ours.insert(c["ip"].get<std::string>());
            EXPECT_EQ(c["onvif"], c["ip"] == "192.168.0.22") << c;
        } else {
            ASSERT_EQ(c["kind"], "onvif") << c;
            others.insert(c["ip"].get<std::string>());
            EXPECT_EQ(c["status"], "ONVIF");
            EXPECT_EQ(c["scheme"], "http");
            EXPECT_EQ(c["mac"].get<std::string>().size(), 17u) << c;
            if (c["ip"] == "192.168.0.51") {
                EXPECT_EQ(c["maker"], "Acme");
                EXPECT_EQ(c["model"], "X1");
                EXPECT_EQ(c["name"], "Gate");
                EXPECT_EQ(c["location"], "Yard");
                EXPECT_EQ(c["port"], 80);
                EXPECT_EQ(c["uuid"], "urn:uuid:acde0051-0000-4000-8000-00ac00000051");
            }
        }
    }
    EXPECT_EQ(ours, (std::multiset<std::string>{"192.168.0.21", "192.168.0.22", "192.168.0.23",
                                                "192.168.0.24"}));
    EXPECT_EQ(others, (std::multiset<std::string>{"192.168.0.51", "192.168.0.52", "192.168.0.53"}));
    EXPECT_EQ(all["counters"]["onvif"], 3);

    const json only = parseSection(r.out, "only");
    ASSERT_EQ(only["cameras"].size(), 3u) << only.dump();
    for (const auto& c : only["cameras"]) EXPECT_EQ(c["kind"], "onvif");
    const json none = parseSection(r.out, "none");
    ASSERT_EQ(none["cameras"].size(), 4u) << none.dump();
    for (const auto& c : none["cameras"]) EXPECT_EQ(c["kind"], "lanrove");

    const json doctor = parseSection(r.out, "doctor");
    std::map<std::string, std::string> byCode;
    for (const auto& f : doctor["findings"])
        byCode[f["code"].get<std::string>()] += f.value("ip", "") + " ";
    EXPECT_EQ(byCode["onvif-clock-skew"], "192.168.0.51 ") << doctor.dump();
    EXPECT_EQ(byCode["onvif-service-silent"], "192.168.0.52 ") << doctor.dump();

    const std::string csv = ws.read("list.csv");
    EXPECT_EQ(countOf(csv, ",ONVIF,"), 3u) << csv;
    for (const char* ip : {"192.168.0.51", "192.168.0.52", "192.168.0.53"})
        EXPECT_NE(csv.find(std::string(",") + ip + ","), std::string::npos) << ip;
    EXPECT_NE(csv.find("Acme X1"), std::string::npos) << csv;
    EXPECT_NE(csv.find("Gate / Yard"), std::string::npos) << csv;
    const std::string html = ws.read("site.html");
    EXPECT_EQ(countOf(html, "<td class=\"nw\">ONVIF</td>"), 3u) << html;
    EXPECT_NE(html.find("onvif-clock-skew"), std::string::npos);
    EXPECT_NE(html.find("onvif-service-silent"), std::string::npos);
}
