// The whole search as `lanrove-cli search` runs it on a simulated LAN: statuses, version-1
// completion over HTTP only where it is allowed, two adapters, nothing found, and Ctrl-C.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "lab_harness.h"

using namespace lanrove::lab;
using nlohmann::json;

namespace {

std::string demoFleet() {
    return sourceDir() + "/lab/fleets/demo.json";
}

std::map<std::string, json> byMac(const json& out) {
    std::map<std::string, json> cams;
    for (const auto& c : out["cameras"]) {
        EXPECT_TRUE(cams.emplace(c["mac"].get<std::string>(), c).second) << "listed twice: " << c;
    }
    return cams;
}

}  // namespace

TEST(LabSearch, DemoFleetListedOnceWithStatusesAndCounters) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const Result r = runInLab(ws, {"--fleet", demoFleet(), "--scale", "0.05"},
                              "$CLI search --json --home " + ws.path("home") + "\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json out = json::parse(r.out, nullptr, false);
    ASSERT_FALSE(out.is_discarded()) << r.out;
    const auto cams = byMac(out);
    ASSERT_EQ(cams.size(), 12u);

    std::map<std::string, std::string> expected = {
        {"00:1B:7C:00:01:01", "NEW"},     {"00:1B:7C:00:01:02", "NEW"},
        {"00:1B:7C:00:01:03", "NEW"},     {"00:1B:7C:00:01:04", "OK"},
        {"00:1B:7C:00:01:05", "OK"},      {"00:1B:7C:00:01:06", "CAUTION"},
        {"00:1B:7C:00:01:07", "CAUTION"}, {"00:1B:7C:00:01:08", "OK"},
        {"00:1B:7C:00:01:09", "OK"},      {"00:1B:7C:00:01:0A", "OK"},
        {"00:1B:7C:00:01:0B", "OK"},      {"00:1B:7C:00:01:0C", "OK"}};
    for (const auto& [mac, status] : expected) {
        ASSERT_TRUE(cams.count(mac)) << mac;
        EXPECT_EQ(cams.at(mac)["status"], status) << mac;
    }
    // The clashing pair carries the overlap mark; factory cameras keep their result.
    EXPECT_EQ(cams.at("00:1B:7C:00:01:06")["result"], 999);
    EXPECT_EQ(cams.at("00:1B:7C:00:01:01")["result"], 201);
    // Version 2 fields come from the reply; SSL shows as ON/OFF.
    EXPECT_EQ(cams.at("00:1B:7C:00:01:08")["port"], "443");
    EXPECT_EQ(cams.at("00:1B:7C:00:01:08")["ssl"], "ON");
    EXPECT_EQ(cams.at("00:1B:7C:00:01:09")["model"], "KT-8400S");
    // A version-1 camera inside the subnet was completed over HTTP.
    EXPECT_EQ(cams.at("00:1B:7C:00:01:04")["title"], "Back door");

    const json& n = out["counters"];
    EXPECT_EQ(n["total"], 12);
    EXPECT_EQ(n["new"], 3);
    EXPECT_EQ(n["ok"], 7);
    EXPECT_EQ(n["attention"], 2);
    EXPECT_EQ(n["new"].get<int>() + n["ok"].get<int>() + n["attention"].get<int>(), 12);

    // Numbers follow the order in which the cameras were taken over.
    std::set<std::string> numbers;
    for (const auto& c : out["cameras"]) numbers.insert(c["no"].get<std::string>());
    EXPECT_EQ(numbers.size(), 12u);
}

TEST(LabSearch, VersionOneCamerasAskedOverHttpOnlyWhereAllowed) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    // Both would answer HTTP if asked (the route makes the outside camera reachable): their
    // titles stay empty only because the search must not ask them.
    const std::string fleet = ws.write("fleet.json", R"({
      "defaults": {"proto": 1, "mask": "255.255.255.0"},
      "cameras": [
        {"mac": "00:1B:7C:00:02:01", "ip": "192.168.0.2", "title": "Factory one"},
        {"mac": "00:1B:7C:00:02:02", "ip": "10.1.2.3", "mask": "255.255.0.0", "title": "Far"},
        {"mac": "00:1B:7C:00:02:03", "ip": "192.168.0.40", "title": "Near"}
      ]})");
    const Result r = runInLab(ws, {"--fleet", fleet, "--scale", "0.05"},
                              "ip route add 10.1.0.0/16 dev eth0\n"
                              "curl -s -m 2 -u pelma:pelma -o /dev/null -w '%{http_code}\\n' "
                              "'http://10.1.2.3/cgi-bin/lang.cgi' >&2\n"
                              "$CLI search --json --home " +
                                  ws.path("home") + "\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("200"), std::string::npos)
        << "the far camera must be reachable: " << r.err;
    const json out = json::parse(r.out, nullptr, false);
    ASSERT_FALSE(out.is_discarded()) << r.out;
    const auto cams = byMac(out);
    ASSERT_EQ(cams.size(), 3u);
    EXPECT_EQ(cams.at("00:1B:7C:00:02:01")["title"], "");
    EXPECT_EQ(cams.at("00:1B:7C:00:02:01")["port"], "");
    EXPECT_EQ(cams.at("00:1B:7C:00:02:01")["ssl"], "");
    EXPECT_EQ(cams.at("00:1B:7C:00:02:01")["status"], "NEW");
    EXPECT_EQ(cams.at("00:1B:7C:00:02:02")["title"], "");
    EXPECT_EQ(cams.at("00:1B:7C:00:02:02")["status"], "OK");
    EXPECT_EQ(cams.at("00:1B:7C:00:02:03")["title"], "Near");
}

TEST(LabSearch, TwoAdaptersOnOneSegmentListEachCameraOnce) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const Result r =
        runInLab(ws,
                 {"--fleet", demoFleet(), "--adapters", "2", "--pc-addr", "192.168.0.10/24",
                  "--pc-addr2", "192.168.0.11/24", "--scale", "0.05"},
                 "$CLI search --json --home " + ws.path("home") + "\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json out = json::parse(r.out, nullptr, false);
    ASSERT_FALSE(out.is_discarded()) << r.out;
    EXPECT_EQ(byMac(out).size(), 12u);
    EXPECT_EQ(out["counters"]["total"], 12);
}

TEST(LabSearch, NoCameraGivesExitCodeOneAndTheEventLine) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write(
        "fleet.json",
        R"({"cameras": [{"mac": "00:1B:7C:00:03:01", "ip": "192.168.0.5", "faults": ["silent"]}]})");
    const Result r = runInLab(ws, {"--fleet", fleet, "--scale", "0.05"},
                              "$CLI search --home " + ws.path("home") + "\n");
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("Could not find a camera"), std::string::npos) << r.err;
    std::string log;
    for (const auto& f : std::filesystem::directory_iterator(ws.path("home") + "/IPLog")) {
        std::ifstream in(f.path());
        std::stringstream ss;
        ss << in.rdbuf();
        log += ss.str();
    }
    EXPECT_NE(log.find("err\tuser\t"), std::string::npos);
    EXPECT_NE(log.find("\t\tCould not find a camera\r\n"), std::string::npos) << log;
}

TEST(LabSearch, CtrlCEndsTheSearchWithinSeconds) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    // Real time: a pass would take 30 seconds.
    const Result r = runInLab(ws, {"--fleet", demoFleet()},
                              "$CLI search --quiet --home " + ws.path("home") +
                                  " >/dev/null & pid=$!\n"
                                  "sleep 2\n"
                                  "start=$(date +%s%N)\n"
                                  "kill -INT $pid\n"
                                  "wait $pid; rc=$?\n"
                                  "echo $rc $(( ($(date +%s%N) - start) / 1000000 ))\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    int rc = -1;
    long ms = -1;
    ASSERT_EQ(std::sscanf(r.out.c_str(), "%d %ld", &rc, &ms), 2) << r.out;
    EXPECT_EQ(rc, 130);
    EXPECT_LT(ms, 8000);
}

TEST(LabSearch, CsvOutputIsTheListWithItsHeadingsAsUtf8WithBom) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const Result r = runInLab(ws, {"--fleet", demoFleet(), "--scale", "0.05"},
                              "$CLI search --csv --home " + ws.path("home") + "\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string heading =
        "\xEF\xBB\xBFNo.,Status,Model name,MAC Address,IP Address,Port,SSL,Camera Title,"
        "Firmware Version\r\n";
    ASSERT_EQ(r.out.substr(0, heading.size()), heading) << r.out;
    EXPECT_EQ(countOf(r.out, "\r\n"), 13u) << r.out;  // the headings and twelve cameras
    EXPECT_EQ(countOf(r.out, "\n"), 13u);
    EXPECT_NE(r.out.find(",00:1B:7C:00:01:04,"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find('#'), std::string::npos);  // no trailer: a spreadsheet reads every line
}
