// Cameras that name themselves with a spreadsheet formula or a terminal escape sequence: the
// list, the CSV and the report show the names as harmless text. (Titles travel in an 8-bit
// code page, so a direction override cannot come this way; the unit tests cover it.)
#include <gtest/gtest.h>

#include <string>

#include "lab_harness.h"

using namespace lanrove::lab;

namespace {

constexpr const char* kFleet = R"json({
  "defaults": {"model": "KT-5200", "proto": 2, "mask": "255.255.255.0"},
  "cameras": [
    {"mac": "00:80:45:00:0E:01", "ip": "192.168.0.20", "title": "=HYPERLINK(\"x\")"},
    {"mac": "00:80:45:00:0E:02", "ip": "192.168.0.21",
     "title": "\u001b[2J\u001b]0;owned\u0007Gate"}
  ]})json";

constexpr const char* kReplacement = "\xEF\xBF\xBD";

}  // namespace

TEST(LabCameraTexts, SearchCsvAndReportNeutraliseHostileTitles) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", kFleet);
    const Result r = runInLab(ws, {"--fleet", fleet, "--scale", "0.05"},
                              "H=" + quote(ws.path("home")) +
                                  "; mkdir -p \"$H\"\n"
                                  "echo @@table; $CLI search --quiet --home \"$H\"\n"
                                  "echo @@csv; $CLI search --quiet --csv --home \"$H\"\n"
                                  "$CLI report --quiet --home \"$H\" --out " +
                                  quote(ws.path("report.html")) + "; echo @@report rc=$?\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string table = section(r.out, "table");
    const std::string csv = section(r.out, "csv");
    const std::string report = ws.read("report.html");
    ASSERT_NE(table.find("00:80:45:00:0E:02"), std::string::npos) << r.out << r.err;
    ASSERT_NE(csv.find("00:80:45:00:0E:02"), std::string::npos) << r.out;
    ASSERT_NE(report.find("00:80:45:00:0E:02"), std::string::npos) << r.out << r.err;

    // Nowhere an escape or a bell.
    for (const std::string* text : {&table, &csv, &report}) {
        EXPECT_EQ(text->find('\x1b'), std::string::npos) << *text;
        EXPECT_EQ(text->find('\x07'), std::string::npos) << *text;
    }
    const std::string gate =
        std::string(kReplacement) + "[2J" + kReplacement + "]0;owned" + kReplacement + "Gate";
    EXPECT_NE(table.find(gate), std::string::npos) << table;
    EXPECT_NE(table.find("=HYPERLINK(\"x\")"), std::string::npos) << table;
    // The formula is text to a spreadsheet: an apostrophe first, quoted as CSV wants.
    EXPECT_NE(csv.find(",\"'=HYPERLINK(\"\"x\"\")\","), std::string::npos) << csv;
    EXPECT_NE(csv.find("," + gate + ","), std::string::npos) << csv;
    EXPECT_NE(report.find("<td>=HYPERLINK(&quot;x&quot;)</td>"), std::string::npos) << report;
    EXPECT_NE(report.find("<td>" + gate + "</td>"), std::string::npos) << report;
}
