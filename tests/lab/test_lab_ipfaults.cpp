// The IP setting against cameras that misbehave as real ones do, each fault planted in the
// simulator: a version-1 camera that takes the datagram and then refuses net.cgi, accepted
// replies that arrive in the last moments before Ctrl-C or the end of the send schedule, and a
// PC whose port 10000 another program holds. Each outcome is checked in the command's output,
// its exit code, the changes journal and what reached the cameras.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "lab_harness.h"

using namespace lanrove::lab;
using nlohmann::json;

namespace {

// The journal's setting lines by MAC (the last one of each camera).
// The number after "rc=" in a section.
int rcOf(const std::string& text) {
    const std::size_t at = text.rfind("rc=");
    return at == std::string::npos
               ? -1
               : static_cast<int>(std::strtol(text.c_str() + at + 3, nullptr, 10));
}

constexpr const char* kAddressOnly = "address set, title/port/SSL not set";

}  // namespace

TEST(LabIpFaults, VersionOneCameraWhoseNetCgiIsRefusedIsListedAtItsNewAddress) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", R"({
      "defaults": {"model": "KT-5200", "mask": "255.255.255.0", "gateway": "192.168.0.1"},
      "cameras": [
        {"mac": "00:1B:7C:00:0B:01", "ip": "192.168.0.40", "proto": 1, "title": "Bay",
         "faults": ["netrefuse"]},
        {"mac": "00:1B:7C:00:0B:02", "ip": "192.168.0.50", "proto": 1, "title": "Dock",
         "faults": ["netrefuse=500"]}
      ]})");
    const std::string plan =
        ws.write("plan.csv", "mac,ip,title\n00:1B:7C:00:0B:02,192.168.0.52,Dock North\n");
    const std::string simLog = ws.path("camsim.log");
    const Result r =
        runInLab(ws, {"--fleet", fleet, "--scale", "0.05", "--camsim-log", simLog},
                 "H=" + quote(ws.path("home")) +
                     "\necho @@set\n"
                     "$CLI set --mac 00:1B:7C:00:0B:01 --ip 192.168.0.42 --title Bay2 --port 8080 "
                     "--yes --json --home \"$H\"\necho rc=$?\n"
                     "echo @@apply\n$CLI apply " +
                     quote(plan) +
                     " --yes --json --home \"$H\" 2>/dev/null\necho rc=$?\n"
                     "echo @@search\n$CLI search --json --home \"$H\"\n"
                     "echo @@journal\ncat \"$H\"/changes.jsonl\n"
                     "echo @@log\ncat \"$H\"/IPLog/*\necho @@end\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;

    // The datagram moved it; the rest was refused: listed where it is, with what it kept.
    const std::string setText = section(r.out, "set");
    const json set = parseSection(r.out, "set");
    EXPECT_EQ(rcOf(setText), 1) << setText << r.err;
    EXPECT_EQ(set["ip"], "192.168.0.42");
    EXPECT_EQ(set["outcome"], kAddressOnly);
    EXPECT_EQ(set["status"], "CAUTION");
    EXPECT_FALSE(set["set"].get<bool>());
    EXPECT_EQ(set["title"], "Bay");
    EXPECT_NE(set["port"], "8080");

    // A plan row of the same kind is a caution that says exactly what to redo.
    const std::string applyText = section(r.out, "apply");
    EXPECT_EQ(rcOf(applyText), 1) << applyText;
    const json applied = parseSection(r.out, "apply");
    ASSERT_EQ(applied["rows"].size(), 1u) << applyText;
    EXPECT_EQ(applied["rows"][0]["state"], "caution");
    EXPECT_EQ(applied["rows"][0]["message"], kAddressOnly);

    const auto listed = camerasByMac(parseSection(r.out, "search")["cameras"]);
    ASSERT_EQ(listed.count("00:1B:7C:00:0B:01"), 1u) << r.out;
    EXPECT_EQ(listed.at("00:1B:7C:00:0B:01")["ip"], "192.168.0.42");
    EXPECT_EQ(listed.at("00:1B:7C:00:0B:01")["title"], "Bay");
    ASSERT_EQ(listed.count("00:1B:7C:00:0B:02"), 1u) << r.out;
    EXPECT_EQ(listed.at("00:1B:7C:00:0B:02")["ip"], "192.168.0.52");

    const auto journal = journalByMac(section(r.out, "journal"), "setting");
    ASSERT_EQ(journal.count("00:1B:7C:00:0B:01"), 1u) << section(r.out, "journal");
    const json& line = journal.at("00:1B:7C:00:0B:01");
    EXPECT_EQ(line["after"].get<std::string>().rfind("192.168.0.42/255.255.255.0", 0), 0u) << line;
    EXPECT_EQ(line["result"].get<std::string>().rfind(kAddressOnly, 0), 0u) << line;
    ASSERT_EQ(journal.count("00:1B:7C:00:0B:02"), 1u);
    EXPECT_EQ(journal.at("00:1B:7C:00:0B:02")["after"].get<std::string>().rfind("192.168.0.52", 0),
              0u);
    // Its own event line, once per camera.
    EXPECT_EQ(countOf(section(r.out, "log"), std::string("\t") + kAddressOnly), 2u)
        << section(r.out, "log");
    const std::string sim = ws.read("camsim.log");
    EXPECT_NE(sim.find("ipset 00:1B:7C:00:0B:01 result=201 ip=192.168.0.42"), std::string::npos)
        << sim;
}

TEST(LabIpFaults, AcceptedReplyJustBeforeCtrlCSetsTheCamera) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", R"({
      "defaults": {"model": "KT-5200", "proto": 2, "mask": "255.255.255.0",
                   "gateway": "192.168.0.1"},
      "cameras": [
        {"mac": "00:1B:7C:00:0C:01", "ip": "192.168.0.30", "title": "Yard",
         "faults": ["ipreplydelay=1000"]}
      ]})");
    const std::string simLog = ws.path("camsim.log");
    // At this scale the send schedule lasts 3.6 s and the reply comes 0.4 s after the first
    // send: the interrupt follows the reply at once, long before the schedule's end.
    const Result r = runInLab(
        ws, {"--fleet", fleet, "--scale", "0.4", "--camsim-log", simLog},
        "H=" + quote(ws.path("home")) +
            "\n$CLI set --mac 00:1B:7C:00:0C:01 --ip 192.168.0.31 --yes --json --home \"$H\" >" +
            quote(ws.path("out.json")) + " 2>" + quote(ws.path("err.txt")) +
            " &\npid=$!\n"
            "for i in $(seq 1500); do grep -qs 'ipset-reply 00:1B:7C:00:0C:01' " +
            quote(simLog) +
            " && break; sleep 0.01; done\n"
            "kill -INT $pid\nwait $pid\nrc=$?\necho @@rc\necho rc=$rc\n"
            "echo @@search\n$CLI search --json --home \"$H\"\n"
            "echo @@journal\ncat \"$H\"/changes.jsonl\necho @@end\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string sim = ws.read("camsim.log");
    ASSERT_NE(sim.find("ipset-reply 00:1B:7C:00:0C:01"), std::string::npos) << sim;

    const json out = json::parse(ws.read("out.json"), nullptr, false);
    ASSERT_FALSE(out.is_discarded()) << ws.read("out.json") << ws.read("err.txt");
    EXPECT_EQ(rcOf(section(r.out, "rc")), 130) << ws.read("err.txt");
    EXPECT_TRUE(out["cancelled"].get<bool>());
    // The camera said 201: it is set, at its new address, whatever came after.
    EXPECT_TRUE(out["set"].get<bool>()) << out;
    EXPECT_EQ(out["status"], "OK");
    EXPECT_EQ(out["ip"], "192.168.0.31");
    const auto journal = journalByMac(section(r.out, "journal"), "setting");
    ASSERT_EQ(journal.count("00:1B:7C:00:0C:01"), 1u) << section(r.out, "journal");
    EXPECT_EQ(journal.at("00:1B:7C:00:0C:01")["result"], "accepted");
    const auto listed = camerasByMac(parseSection(r.out, "search")["cameras"]);
    ASSERT_EQ(listed.count("00:1B:7C:00:0C:01"), 1u) << r.out;
    EXPECT_EQ(listed.at("00:1B:7C:00:0C:01")["ip"], "192.168.0.31");
}

TEST(LabIpFaults, AcceptedReplyWithTheScheduleEndSetsTheNewCamera) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    // The reply to the first send comes 0.5 s (protocol) before the schedule's last tick (at
    // 9 s): in the worker's last poll, or with the stop flag.
    const std::string fleet = ws.write("fleet.json", R"({
      "defaults": {"model": "KT-5200", "proto": 2, "mask": "255.255.255.0"},
      "cameras": [
        {"mac": "00:1B:7C:00:0D:01", "ip": "192.168.0.2", "factory": true,
         "faults": ["ipreplydelay=8500"]}
      ]})");
    const std::string simLog = ws.path("camsim.log");
    const Result r = runInLab(ws, {"--fleet", fleet, "--scale", "0.2", "--camsim-log", simLog},
                              "H=" + quote(ws.path("home")) +
                                  "\necho @@auto\n"
                                  "$CLI auto-set --from 192.168.0.100 --yes --json --home "
                                  "\"$H\"\necho rc=$?\n"
                                  "echo @@journal\ncat \"$H\"/changes.jsonl\necho @@end\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string autoText = section(r.out, "auto");
    EXPECT_EQ(rcOf(autoText), 0) << autoText << r.err;
    const auto cams = camerasByMac(parseSection(r.out, "auto")["cameras"]);
    ASSERT_EQ(cams.count("00:1B:7C:00:0D:01"), 1u) << autoText;
    const json& cam = cams.at("00:1B:7C:00:0D:01");
    EXPECT_TRUE(cam["set"].get<bool>()) << cam;
    EXPECT_EQ(cam["status"], "OK");
    EXPECT_EQ(cam["ip"], "192.168.0.100");
    const auto journal = journalByMac(section(r.out, "journal"), "setting");
    ASSERT_EQ(journal.count("00:1B:7C:00:0D:01"), 1u) << section(r.out, "journal");
    EXPECT_EQ(journal.at("00:1B:7C:00:0D:01")["result"], "accepted");
    EXPECT_NE(ws.read("camsim.log").find("ipset-reply 00:1B:7C:00:0D:01 sent after 8500 ms"),
              std::string::npos);
}

// Another program holds port 10000 (bound without SO_REUSEADDR, so nobody can share it)
// before anything starts: the search and the one-camera setting run both say so, and the
// camera gets neither a search request nor an IP-setting datagram.
TEST(LabIpFaults, HeldReceivePortStopsTheRunsBeforeAnythingIsSent) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", R"({
      "defaults": {"model": "KT-5200", "proto": 2, "mask": "255.255.255.0"},
      "cameras": [{"mac": "00:1B:7C:00:0E:01", "ip": "192.168.0.2", "factory": true}]})");
    const std::string simLog = ws.path("camsim.log");
    const std::string holder = ws.write("hold.py", R"(import socket, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("0.0.0.0", 10000))
open(sys.argv[1], "w").write("held\n")
time.sleep(120)
)");
    const std::string held = ws.path("held");
    const Result r =
        runInLab(ws, {"--fleet", fleet, "--scale", "0.1", "--camsim-log", simLog},
                 "H=" + quote(ws.path("home")) + "\nmkdir -p \"$H\"\npython3 " + quote(holder) +
                     " " + quote(held) +
                     " &\nhpid=$!\n"
                     "for i in $(seq 3000); do [ -e " +
                     quote(held) +
                     " ] && break; sleep 0.01; done\n"
                     "echo @@diag\n$CLI discover-set --mac 00:1B:7C:00:0E:01 --ip 192.168.0.101 "
                     "--interface eth0 --yes --trace \"$H\" 2>&1\necho rc=$?\n"
                     "echo @@search\n$CLI search --home \"$H\" 2>&1\necho rc=$?\n"
                     "kill $hpid\n"
                     "echo @@log\ncat \"$H\"/IPLog/*\necho @@end\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_TRUE(std::filesystem::exists(held)) << "the port was never held\n" << r.out;
    const std::string diag = section(r.out, "diag");
    EXPECT_EQ(rcOf(diag), 1) << diag;
    EXPECT_NE(diag.find("cannot open port 10000"), std::string::npos) << diag;
    EXPECT_NE(diag.find("nothing was sent"), std::string::npos) << diag;
    const std::string search = section(r.out, "search");
    EXPECT_EQ(rcOf(search), 1) << search;
    EXPECT_NE(search.find("error: The search cannot open port 10000 on "), std::string::npos)
        << search;
    const std::string log = section(r.out, "log");
    EXPECT_NE(log.find("Setting receive port open error = 98"), std::string::npos) << log;
    EXPECT_NE(log.find("Search receive port open error = 98"), std::string::npos) << log;
    const std::string sim = ws.read("camsim.log");
    EXPECT_EQ(sim.find("search-request"), std::string::npos) << sim;
    EXPECT_EQ(sim.find("ipset"), std::string::npos) << sim;
}
