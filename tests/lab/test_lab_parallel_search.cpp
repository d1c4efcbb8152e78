// A PC with three adapters: two on segments of their own with cameras, one without carrier.
// The search covers both live adapters at once, lists every camera once (version-1 cameras
// completed over HTTP through the adapter they answered on), names the skipped adapter in its
// trace, and takes about one pass of real time; `adapters` shows the one without carrier.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "lab_harness.h"

using namespace lanrove::lab;
using nlohmann::json;

namespace {

std::string traceOf(const Workspace& ws, const std::string& home) {
    std::string log;
    const std::string folder = ws.path(home) + "/IPLog";
    if (!std::filesystem::is_directory(folder)) return log;
    for (const auto& f : std::filesystem::directory_iterator(folder)) {
        std::ifstream in(f.path());
        std::stringstream ss;
        ss << in.rdbuf();
        log += ss.str();
    }
    return log;
}

}  // namespace

TEST(LabParallelSearch, ThreeAdaptersOneWithoutCarrierSearchedAtOnceInOnePass) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string first = ws.write("first.json", R"({
  "defaults": {"model": "KT-5200", "firmware": "1.20", "mask": "255.255.255.0"},
  "cameras": [
    {"mac": "00:1B:7C:00:0A:01", "ip": "192.168.0.21", "proto": 2, "title": "Gate"},
    {"mac": "00:1B:7C:00:0A:02", "ip": "192.168.0.22", "proto": 2, "title": "Hall"},
    {"mac": "00:1B:7C:00:0A:03", "ip": "192.168.0.23", "proto": 1, "title": "Stairs"}]})");
    const std::string third = ws.write("third.json", R"({
  "defaults": {"model": "KT-5200", "firmware": "1.20", "mask": "255.255.255.0"},
  "cameras": [
    {"mac": "00:1B:7C:00:0C:01", "ip": "192.168.2.21", "proto": 2, "title": "Dock"},
    {"mac": "00:1B:7C:00:0C:02", "ip": "192.168.2.22", "proto": 1, "title": "Yard"}]})");
    // Real time: the bound is about the search, so no time scale.
    const Result r = runInLab(
        ws,
        {"--fleet", first, "--pc-addr", "192.168.0.10/24", "--gateway", "off", "--adapter3",
         "192.168.2.10/24", "--fleet3", third, "--no-carrier", "10.99.0.10/24", "--scale", "1"},
        "echo @@adapters; $CLI adapters --json --no-check\n"
        "start=$(date +%s%N)\n"
        "echo @@search; $CLI search --json --quiet --home " +
            quote(ws.path("home")) +
            "\n"
            "echo @@ms; echo $(( ($(date +%s%N) - start) / 1000000 ))\n");
    ASSERT_EQ(r.exitCode, 0) << r.err << r.out;

    // Every camera of both segments, each once.
    const json search = parseSection(r.out, "search");
    std::map<std::string, json> cams;
    for (const auto& c : search["cameras"])
        EXPECT_TRUE(cams.emplace(c["mac"].get<std::string>(), c).second) << "twice: " << c;
    EXPECT_EQ(cams.size(), 5u) << r.out;
    for (const char* mac : {"00:1B:7C:00:0A:01", "00:1B:7C:00:0A:02", "00:1B:7C:00:0A:03",
                            "00:1B:7C:00:0C:01", "00:1B:7C:00:0C:02"})
        EXPECT_EQ(cams.count(mac), 1u) << mac;
    // Version-1 cameras are asked over HTTP only inside the subnet of the adapter they answered
    // on: each got its title, so each was completed for its own adapter.
    EXPECT_EQ(cams["00:1B:7C:00:0A:03"]["title"], "Stairs");
    EXPECT_EQ(cams["00:1B:7C:00:0C:02"]["title"], "Yard");
    EXPECT_EQ(search["counters"]["total"], 5);

    // One pass's time for both adapters (31 s); searched one after the other it would be 62.
    const long ms = std::stol("0" + section(r.out, "ms"));
    EXPECT_GT(ms, 25000);
    EXPECT_LE(ms, 55000);

    const std::string trace = traceOf(ws, "home");
    EXPECT_NE(trace.find("Adapter(nc0) has no carrier: skipped."), std::string::npos) << trace;
    EXPECT_EQ(countOf(trace, "RecvProc Start."), 2u) << trace;  // eth0 and eth2, not nc0
    EXPECT_EQ(countOf(trace, "Find Write:"), 2u) << trace;

    // The adapter list shows the one without carrier as such, without an index.
    const json adapters = parseSection(r.out, "adapters");
    std::map<std::string, json> byName;
    for (const auto& a : adapters["adapters"]) byName[a["interface"].get<std::string>()] = a;
    ASSERT_EQ(byName.size(), 3u) << adapters;
    EXPECT_EQ(byName["eth0"]["carrier"], true);
    EXPECT_EQ(byName["eth2"]["carrier"], true);
    EXPECT_EQ(byName["nc0"]["carrier"], false);
    EXPECT_TRUE(byName["nc0"]["index"].is_null());
    EXPECT_EQ(byName["nc0"]["ip"], "10.99.0.10");
}

TEST(LabParallelSearch, AdapterTableMarksTheAdapterWithoutCarrier) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const Result r = runInLab(ws, {"--no-carrier", "10.99.0.10/24", "--scale", "0.05"},
                              "$CLI adapters --no-check\n");
    ASSERT_EQ(r.exitCode, 0) << r.err << r.out;
    std::istringstream lines(r.out);
    std::string line;
    bool eth0 = false;
    bool nc0 = false;
    while (std::getline(lines, line)) {
        if (line.find(" eth0 ") != std::string::npos)
            eth0 = line.find("no carrier") == std::string::npos;
        if (line.find(" nc0 ") != std::string::npos)
            nc0 = line.rfind("-", 0) == 0 && line.find("10.99.0.10") != std::string::npos &&
                  line.find("no carrier (not searched)") != std::string::npos;
    }
    EXPECT_TRUE(eth0) << r.out;
    EXPECT_TRUE(nc0) << r.out;
}
