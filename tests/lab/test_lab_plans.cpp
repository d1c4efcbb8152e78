// Address plans as `lanrove-cli apply` runs them on a simulated LAN: the six-row plan of
// lab/plans, its preview and final report row by row, and the next search.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>

#include "lab_harness.h"

using namespace lanrove::lab;
using nlohmann::json;

namespace {

std::map<int, json> byLine(const json& rows) {
    std::map<int, json> out;
    for (const auto& r : rows) out[r["line"].get<int>()] = r;
    return out;
}

std::string planFile(const std::string& name) {
    return sourceDir() + "/lab/plans/" + name;
}

}  // namespace

TEST(LabPlans, TheSixRowPlanSetsThreeAndSaysWhyNotTheOthers) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = sourceDir() + "/lab/fleets/plan-site.json";
    const std::string home = " --home " + ws.path("home");
    const std::string plan = quote(planFile("site-six-rows.csv"));
    const Result r = runInLab(ws, {"--fleet", fleet, "--scale", "0.05"},
                              "echo @@preview\n"
                              "$CLI apply " +
                                  plan + " --dry-run --json" + home +
                                  "\necho rc=$?\n"
                                  "echo @@apply\n"
                                  "$CLI apply " +
                                  plan + " --yes --json" + home +
                                  "\necho rc=$?\n"
                                  "echo @@search\n"
                                  "$CLI search --json" +
                                  home + "\necho @@end\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;

    // The preview: nothing sent, every row judged.
    EXPECT_NE(section(r.out, "preview").find("rc=1"), std::string::npos) << r.out;
    const json preview = parseSection(r.out, "preview");
    EXPECT_EQ(preview["dry_run"], true);
    auto rows = byLine(preview["rows"]);
    ASSERT_EQ(rows.size(), 6u);
    for (int line : {2, 3, 4}) EXPECT_EQ(rows[line]["state"], "ready") << rows[line];
    EXPECT_EQ(rows[2]["before"]["ip"], "192.168.0.2");
    EXPECT_EQ(rows[2]["after"]["ip"], "192.168.0.31");
    EXPECT_EQ(rows[2]["after"]["title"], "Gate North");
    EXPECT_EQ(rows[5]["state"], "not-found");
    EXPECT_EQ(rows[5]["found"], false);
    EXPECT_EQ(rows[6]["state"], "refused");
    EXPECT_EQ(rows[6]["reason"], "address-of-listed-camera");
    EXPECT_EQ(rows[7]["state"], "refused");
    EXPECT_EQ(rows[7]["reason"], "bad-mask");

    // The run: three set, exit 1 since not every row was.
    EXPECT_NE(section(r.out, "apply").find("rc=1"), std::string::npos) << r.out << r.err;
    const json applied = parseSection(r.out, "apply");
    rows = byLine(applied["rows"]);
    for (int line : {2, 3, 4}) EXPECT_EQ(rows[line]["state"], "set") << rows[line];
    EXPECT_EQ(rows[5]["state"], "not-found");
    EXPECT_EQ(rows[6]["reason"], "address-of-listed-camera");
    EXPECT_EQ(rows[7]["reason"], "bad-mask");
    EXPECT_EQ(applied["summary"]["set"], 3);
    EXPECT_EQ(applied["summary"]["not_found"], 1);
    EXPECT_EQ(applied["summary"]["refused"], 2);

    // The next search finds the three at their new addresses, the others where they were.
    std::map<std::string, json> listed;
    const json search = parseSection(r.out, "search");
    for (const auto& c : search["cameras"]) listed[c["mac"].get<std::string>()] = c;
    ASSERT_EQ(listed.size(), 6u) << r.out << r.err;
    EXPECT_EQ(listed.at("00:1B:7C:00:09:01")["ip"], "192.168.0.31");
    EXPECT_EQ(listed.at("00:1B:7C:00:09:02")["ip"], "192.168.0.32");
    EXPECT_EQ(listed.at("00:1B:7C:00:09:03")["ip"], "192.168.0.33");
    EXPECT_EQ(listed.at("00:1B:7C:00:09:03")["title"], "Yard West");
    EXPECT_EQ(listed.at("00:1B:7C:00:09:04")["ip"], "192.168.0.50");
    EXPECT_EQ(listed.at("00:1B:7C:00:09:06")["ip"], "192.168.0.70");
}

TEST(LabPlans, AMalformedPlanIsRefusedWithItsLineAndNothingIsSent) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = sourceDir() + "/lab/fleets/plan-site.json";
    const std::string bad = ws.write("bad.csv",
                                     "mac,ip\n00:1B:7C:00:09:01,192.168.0.31\n"
                                     "00:1B:7C:00:09:0Z,192.168.0.32\n");
    const Result r = runInLab(
        ws, {"--fleet", fleet, "--scale", "0.05", "--camsim-log", ws.path("camsim.log")},
        "$CLI apply " + quote(bad) + " --yes --home " + ws.path("home") + "\necho rc=$?\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("rc=2"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("line 3: bad MAC address"), std::string::npos) << r.err;
    // Not even a search went out.
    EXPECT_EQ(ws.read("camsim.log").find("4031"), std::string::npos) << ws.read("camsim.log");
}

TEST(LabPlans, AnAddressHeldByAHostThatDropsPingsIsRefused) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", R"({
      "defaults": {"model": "KT-5200", "proto": 2, "mask": "255.255.255.0", "factory": true,
                   "ip": "192.168.0.2", "gateway": "192.168.0.1"},
      "cameras": [{"mac": "00:1B:7C:00:0C:01"}, {"mac": "00:1B:7C:00:0C:02"}],
      "hosts": ["192.168.0.45"]})");
    const std::string plan = ws.write("plan.csv",
                                      "mac\tip\n00:1B:7C:00:0C:01\t192.168.0.45\n"
                                      "00:1B:7C:00:0C:02\t192.168.0.46\n");
    const Result r =
        runInLab(ws, {"--fleet", fleet, "--scale", "0.05", "--drop-ping", "192.168.0.45"},
                 "echo @@preview\n$CLI apply " + quote(plan) + " --dry-run --json --home " +
                     ws.path("home") + "\necho rc=$?\necho @@end\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(section(r.out, "preview").find("rc=1"), std::string::npos) << r.out;
    auto rows = byLine(parseSection(r.out, "preview")["rows"]);
    ASSERT_EQ(rows.size(), 2u) << r.out;
    EXPECT_EQ(rows[2]["state"], "refused");
    EXPECT_EQ(rows[2]["reason"], "address-in-use");
    EXPECT_EQ(rows[3]["state"], "ready");
}

TEST(LabPlans, ASecondApplyOfASetPlanSendsNoSettingAndSaysUnchanged) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = sourceDir() + "/lab/fleets/plan-site.json";
    const std::string home = " --home " + ws.path("home");
    const std::string plan = quote(planFile("site-semicolon-bom.csv"));
    const Result r =
        runInLab(ws, {"--fleet", fleet, "--scale", "0.05", "--camsim-log", ws.path("camsim.log")},
                 "echo @@first\n$CLI apply " + plan + " --yes --json" + home +
                     "\necho rc=$?\n"
                     "grep -c 'ipset ' " +
                     quote(ws.path("camsim.log")) + " > " + quote(ws.path("first.count")) +
                     "\necho @@preview\n$CLI apply " + plan + " --dry-run --json" + home +
                     "\necho rc=$?\n"
                     "echo @@second\n$CLI apply " +
                     plan + " --yes --json" + home + "\necho rc=$?\necho @@end\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;

    EXPECT_NE(section(r.out, "first").find("rc=0"), std::string::npos) << r.out << r.err;
    const json first = parseSection(r.out, "first");
    EXPECT_EQ(first["schema"], 1);
    EXPECT_EQ(first["summary"]["set"], 2) << first.dump(2);
    for (const auto& row : first["rows"])
        EXPECT_EQ(row["changes"], json::array({"ip", "title"})) << row;

    // The cameras are as planned now: the preview and the run agree that nothing is to send.
    for (const char* name : {"preview", "second"}) {
        EXPECT_NE(section(r.out, name).find("rc=0"), std::string::npos) << name << r.out << r.err;
        const json again = parseSection(r.out, name);
        EXPECT_EQ(again["summary"]["unchanged"], 2) << name << again.dump(2);
        EXPECT_EQ(again["confirmed"], false) << name;
        for (const auto& row : again["rows"]) {
            EXPECT_EQ(row["state"], "unchanged") << name << row;
            EXPECT_TRUE(row["changes"].empty()) << name << row;
        }
    }
    // Every setting datagram the cameras got came with the first run.
    const std::string log = ws.read("camsim.log");
    EXPECT_EQ(countOf(log, "ipset "), 2u) << log;
    EXPECT_EQ(ws.read("first.count"), "2\n") << log;
}
