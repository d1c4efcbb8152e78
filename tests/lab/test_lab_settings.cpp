// The automatic and manual IP setting as `lanrove-cli auto-set` and `set` run them on a
// simulated LAN: free addresses past live hosts, replies that must be ignored, version-1
// cameras finished over HTTP at their new address, cameras that never answer, and Ctrl-C.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>

#include "lab_harness.h"

using namespace lanrove::lab;
using nlohmann::json;

namespace {

const char* kManualFleet = R"({
  "defaults": {"model": "KT-5200", "mask": "255.255.255.0", "gateway": "192.168.0.1"},
  "cameras": [
    {"mac": "00:1B:7C:00:06:01", "ip": "192.168.0.30", "proto": 2, "title": "Yard"},
    {"mac": "00:1B:7C:00:06:02", "ip": "192.168.0.40", "proto": 1, "title": "Bay"},
    {"mac": "00:1B:7C:00:06:03", "ip": "192.168.0.50", "proto": 2, "title": "Mute",
     "faults": ["noset"]}
  ]})";

}  // namespace

TEST(LabSettings, AutoSetSkipsLiveHostsAndTheCamerasListOkThere) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", R"({
      "defaults": {"model": "KT-5200", "proto": 2, "mask": "255.255.255.0"},
      "cameras": [
        {"mac": "00:1B:7C:00:05:01", "ip": "192.168.0.2", "factory": true},
        {"mac": "00:1B:7C:00:05:02", "ip": "192.168.0.2", "factory": true},
        {"mac": "00:1B:7C:00:05:03", "ip": "192.168.0.2", "proto": 1},
        {"mac": "00:1B:7C:00:05:04", "ip": "192.168.0.60", "title": "Not new"}
      ],
      "hosts": ["192.168.0.20-192.168.0.24"]})");
    const std::string home = " --home " + ws.path("home");
    const Result r = runInLab(ws, {"--fleet", fleet, "--scale", "0.05"},
                              "echo @@auto\n"
                              "$CLI auto-set --from 192.168.0.20 --to 192.168.0.40 --yes --json" +
                                  home +
                                  "\necho rc=$?\n"
                                  "echo @@search\n"
                                  "$CLI search --json" +
                                  home + "\necho @@end\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json out = parseSection(r.out, "auto");
    EXPECT_NE(section(r.out, "auto").find("rc=0"), std::string::npos) << r.out;
    EXPECT_EQ(out["probe"]["batches"], 1);
    EXPECT_EQ(out["probe"]["probes"], 10);
    ASSERT_EQ(out["cameras"].size(), 3u);
    // In table order the NEW cameras get .25, .26 and .27.
    std::vector<std::pair<int, std::string>> order;
    for (const auto& c : out["cameras"]) {
        EXPECT_TRUE(c["set"].get<bool>()) << c;
        order.emplace_back(std::stoi(c["no"].get<std::string>()), c["ip"].get<std::string>());
    }
    std::sort(order.begin(), order.end());
    EXPECT_EQ(order[0].second, "192.168.0.25");
    EXPECT_EQ(order[1].second, "192.168.0.26");
    EXPECT_EQ(order[2].second, "192.168.0.27");

    const auto listed = camerasByMac(parseSection(r.out, "search")["cameras"]);
    for (const auto& c : out["cameras"]) {
        const std::string mac = c["mac"];
        ASSERT_TRUE(listed.count(mac)) << mac;
        EXPECT_EQ(listed.at(mac)["ip"], c["ip"]);
        EXPECT_EQ(listed.at(mac)["status"], "OK");
    }
    EXPECT_EQ(listed.at("00:1B:7C:00:05:04")["ip"], "192.168.0.60");
}

TEST(LabSettings, AutoSetIgnoresAReplyOtherThanAccepted) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", R"({
      "defaults": {"model": "KT-5200", "proto": 2, "factory": true, "ip": "192.168.0.2"},
      "cameras": [
        {"mac": "00:1B:7C:00:07:01"},
        {"mac": "00:1B:7C:00:07:02", "faults": ["result=200"]}
      ]})");
    const Result r = runInLab(ws, {"--fleet", fleet, "--scale", "0.05"},
                              "echo @@auto\n"
                              "$CLI auto-set --from 192.168.0.100 --yes --json --home " +
                                  ws.path("home") + "\necho rc=$?\necho @@end\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(section(r.out, "auto").find("rc=1"), std::string::npos) << r.out;
    const auto cams = camerasByMac(parseSection(r.out, "auto")["cameras"]);
    ASSERT_EQ(cams.size(), 2u);
    EXPECT_TRUE(cams.at("00:1B:7C:00:07:01")["set"].get<bool>());
    EXPECT_EQ(cams.at("00:1B:7C:00:07:01")["status"], "OK");
    const json& refused = cams.at("00:1B:7C:00:07:02");
    EXPECT_FALSE(refused["set"].get<bool>());
    EXPECT_EQ(refused["status"], "NEW");
    EXPECT_EQ(refused["ip"], "192.168.0.2");
}

TEST(LabSettings, ManualSetOfVersionTwoAndVersionOneCameras) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", kManualFleet);
    const std::string home = " --home " + ws.path("home");
    const Result r = runInLab(
        ws, {"--fleet", fleet, "--scale", "0.05"},
        "echo @@v2\n"
        "$CLI set --mac 00:1b:7c:00:06:01 --ip 192.168.0.31 --title 'Yard west' --yes --json" +
            home +
            "\necho rc=$?\n"
            "echo @@v1\n"
            "start=$(date +%s%N)\n"
            "$CLI set --mac 00:1B:7C:00:06:02 --ip 192.168.0.41 --title Bay2 --port 8080 "
            "--yes --json" +
            home +
            "\necho rc=$? ms=$(( ($(date +%s%N) - start) / 1000000 ))\n"
            "echo @@web\n"
            "curl -s -m 5 -u vorly:vorly 'http://192.168.0.41:8080/cgi-bin/cam_set.cgi?status=1'\n"
            "echo\necho @@search\n"
            "$CLI search --json" +
            home + "\necho @@end\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;

    const json v2 = parseSection(r.out, "v2");
    EXPECT_NE(section(r.out, "v2").find("rc=0"), std::string::npos) << r.out;
    EXPECT_EQ(v2["status"], "OK");
    EXPECT_EQ(v2["ip"], "192.168.0.31");
    EXPECT_EQ(v2["title"], "Yard west");

    // Version 1: the datagram moved it, net.cgi at the new address set title and port.
    const std::string v1Text = section(r.out, "v1");
    const json v1 = parseSection(r.out, "v1");
    EXPECT_EQ(v1["status"], "OK");
    EXPECT_EQ(v1["ip"], "192.168.0.41");
    EXPECT_EQ(v1["port"], "8080");
    int rc = -1;
    long ms = -1;
    ASSERT_EQ(std::sscanf(v1Text.c_str() + v1Text.find("rc="), "rc=%d ms=%ld", &rc, &ms), 2);
    EXPECT_EQ(rc, 0);
    EXPECT_GE(ms, 1500);  // the waits of 10000 and 20000 ms, scaled
    EXPECT_NE(section(r.out, "web").find("title:(Bay2)"), std::string::npos) << r.out;

    const auto listed = camerasByMac(parseSection(r.out, "search")["cameras"]);
    EXPECT_EQ(listed.at("00:1B:7C:00:06:01")["ip"], "192.168.0.31");
    EXPECT_EQ(listed.at("00:1B:7C:00:06:01")["title"], "Yard west");
    EXPECT_EQ(listed.at("00:1B:7C:00:06:01")["status"], "OK");
    EXPECT_EQ(listed.at("00:1B:7C:00:06:02")["ip"], "192.168.0.41");
}

TEST(LabSettings, ManualSetOfACameraThatNeverAnswersEndsInCaution) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", kManualFleet);
    const Result r = runInLab(ws, {"--fleet", fleet, "--scale", "0.05"},
                              "$CLI set --mac 00:1B:7C:00:06:03 --ip 192.168.0.51 --yes --json "
                              "--home " +
                                  ws.path("home") + "\nrc=$?\necho @@rc\necho $rc\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json out = json::parse(r.out.substr(0, r.out.find("@@rc")), nullptr, false);
    ASSERT_FALSE(out.is_discarded()) << r.out;
    EXPECT_EQ(section(r.out, "rc"), "1\n");
    EXPECT_EQ(out["status"], "CAUTION");
    EXPECT_EQ(out["result"], 400);
    EXPECT_EQ(out["ip"], "192.168.0.50");
}

TEST(LabSettings, CtrlCBeforeAnyReplyCancelsWithCaution) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", kManualFleet);
    // At this scale the send schedule alone lasts 3.6 s: the interrupt comes well before, and
    // late enough after the search that the run's receive thread is up even on a loaded machine.
    const Result r =
        runInLab(ws, {"--fleet", fleet, "--scale", "0.4"},
                 "$CLI set --mac 00:1B:7C:00:06:03 --ip 192.168.0.51 --yes --home " +
                     ws.path("home") + " >" + ws.path("out.txt") + " 2>" + ws.path("err.txt") +
                     " & pid=$!\n"
                     "for i in $(seq 300); do grep -q 'search:' " +
                     ws.path("err.txt") +
                     " && break; sleep 0.05; done\n"
                     "sleep 0.6\n"
                     "start=$(date +%s%N)\n"
                     "kill -INT $pid\n"
                     "wait $pid; rc=$?\n"
                     "echo $rc $(( ($(date +%s%N) - start) / 1000000 ))\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    int rc = -1;
    long ms = -1;
    ASSERT_EQ(std::sscanf(r.out.c_str(), "%d %ld", &rc, &ms), 2) << r.out;
    EXPECT_EQ(rc, 130) << ws.read("err.txt");
    EXPECT_LT(ms, 1500);
    const std::string out = ws.read("out.txt");
    EXPECT_NE(out.find("not set  CAUTION (400)"), std::string::npos) << out << ws.read("err.txt");
}
