// The free-address probe on a simulated LAN: a host that drops pings but answers ARP keeps its
// address, and free addresses are known as soon as the kernel's ARP resolution fails, far
// sooner than the echo's 20-second time-out.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>

#include "lab_harness.h"

using namespace lanrove::lab;
using nlohmann::json;

namespace {}  // namespace

TEST(LabProbe, AHostThatDropsPingsKeepsItsAddress) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", R"({
      "defaults": {"model": "KT-5200", "proto": 2, "mask": "255.255.255.0", "factory": true,
                   "ip": "192.168.0.2"},
      "cameras": [{"mac": "00:1B:7C:00:0A:01"}, {"mac": "00:1B:7C:00:0A:02"},
                  {"mac": "00:1B:7C:00:0A:03"}],
      "hosts": ["192.168.0.20-192.168.0.25"]})");
    const std::string home = ws.path("home");
    const Result r = runInLab(
        ws, {"--fleet", fleet, "--scale", "0.05", "--drop-ping", "192.168.0.25"},
        "echo @@ping\n"
        "ping -c 1 -W 1 192.168.0.25 >/dev/null && echo answered || echo silent\n"
        "echo @@auto\n"
        "$CLI auto-set --from 192.168.0.20 --to 192.168.0.40 --yes --json --home " +
            home +
            "\necho rc=$?\n"
            "echo @@trace\n"
            "cat " +
            quote(home) + "/IPLog/* | grep -a 'AutoSet Probe(192.168.0.25)'\necho @@end\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(section(r.out, "ping"), "silent\n") << "the firewall rule did not hold";
    EXPECT_NE(section(r.out, "auto").find("rc=0"), std::string::npos) << r.out;
    const json out = parseSection(r.out, "auto");
    std::vector<std::pair<int, std::string>> order;
    for (const auto& c : out["cameras"]) {
        EXPECT_TRUE(c["set"].get<bool>()) << c;
        order.emplace_back(std::stoi(c["no"].get<std::string>()), c["ip"].get<std::string>());
    }
    std::sort(order.begin(), order.end());
    ASSERT_EQ(order.size(), 3u);
    EXPECT_EQ(order[0].second, "192.168.0.26");
    EXPECT_EQ(order[1].second, "192.168.0.27");
    EXPECT_EQ(order[2].second, "192.168.0.28");
    EXPECT_NE(section(r.out, "trace").find("InUse By(arp)"), std::string::npos) << r.out;
}

// Real time (scale 1): 250 candidates, 5 live hosts (one of them silent to pings), 50 NEW
// cameras. The echo alone needs five batches of 20 s for this; the neighbour table about 3 s
// per batch.
TEST(LabProbe, FiftyCamerasFromTwoHundredFiftyCandidatesProbeInUnderTwentySeconds) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    std::string cameras;
    for (int i = 1; i <= 50; ++i) {
        char mac[32];
        std::snprintf(mac, sizeof mac, "00:1B:7C:00:0B:%02X", i);
        cameras += std::string(cameras.empty() ? "" : ",") + "{\"mac\": \"" + mac + "\"}";
    }
    const std::string fleet = ws.write(
        "fleet.json", R"({"defaults": {"model": "KT-5200", "proto": 2, "mask": "255.255.0.0",
                         "factory": true, "ip": "10.20.0.2"},
                         "cameras": [)" +
                          cameras + R"(],
                         "hosts": ["10.20.1.60", "10.20.1.61", "10.20.1.120", "10.20.1.180",
                                   "10.20.1.240"]})");
    const Result r =
        runInLab(ws,
                 {"--fleet", fleet, "--scale", "1", "--pc-addr", "10.20.0.10/16", "--gateway",
                  "10.20.0.1", "--drop-ping", "10.20.1.61"},
                 "start=$(date +%s%N)\n"
                 "echo @@auto\n"
                 "$CLI auto-set --from 10.20.1.1 --to 10.20.1.250 --yes --json --home " +
                     ws.path("home") +
                     "\necho rc=$? ms=$(( ($(date +%s%N) - start) / 1000000 ))\necho @@end\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string text = section(r.out, "auto");
    EXPECT_NE(text.find("rc=0"), std::string::npos) << r.out;
    const json out = parseSection(r.out, "auto");
    EXPECT_EQ(out["candidates"], 250);
    std::set<std::string> given;
    for (const auto& c : out["cameras"]) {
        EXPECT_TRUE(c["set"].get<bool>()) << c;
        given.insert(c["ip"].get<std::string>());
    }
    EXPECT_EQ(given.size(), 50u);  // all distinct
    EXPECT_EQ(out["probe"]["batches"], 5);
    const double probeSeconds = out["probe"]["seconds"].get<double>();
    EXPECT_LT(probeSeconds, 20.0);
    // The figures for the record: the echo alone would need batches x 20 s.
    std::printf("probe %.1f s in %d batches (echo alone: %d s); auto-set run %.1f s; %s\n",
                probeSeconds, out["probe"]["batches"].get<int>(),
                out["probe"]["batches"].get<int>() * 20, out["seconds"].get<double>(),
                text.substr(text.find("rc=")).c_str());
}
