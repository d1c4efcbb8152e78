// The search's progress line as a person at a terminal sees it (a pseudo-terminal made by
// `script`), the same list on standard output as without one, and the diagnostic IP setting
// with a MAC address typed in lower case, where the cameras report upper case.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "lab_harness.h"

using namespace lanrove::lab;

namespace {

// The list's lines without the first column (No. follows the order of the replies, which may
// differ from run to run), sorted.
std::vector<std::string> rowsWithoutNumbers(const std::string& table) {
    std::vector<std::string> rows;
    std::istringstream in(table);
    for (std::string line; std::getline(in, line);) {
        const std::size_t gap = line.find(' ');
        const std::size_t next = gap == std::string::npos ? gap : line.find_first_not_of(' ', gap);
        rows.push_back(next == std::string::npos ? line : line.substr(next));
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

}  // namespace

TEST(LabCliSearch, ProgressLineOnlyOnATerminalAndTheListUnchanged) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string home = ws.path("home");
    // Under `script` standard error is a terminal; standard output goes to a file, so that it
    // holds exactly what the command printed there.
    const auto underTerminal = [&](const std::string& args, const std::string& name) {
        return "script -qfec " +
               quote("\"$CLI\" search " + args + " --home " + quote(home) + " >" +
                     quote(ws.path(name + ".out"))) +
               " /dev/null >" + quote(ws.path(name + ".tty")) + "\n";
    };
    const Result r = runInLab(
        ws,
        {"--fleet", sourceDir() + "/lab/fleets/demo.json", "--adapters", "2", "--pc-addr",
         "192.168.0.10/24", "--pc-addr2", "192.168.0.11/24", "--scale", "0.05"},
        "export CLI\n" + underTerminal("", "tty") + underTerminal("--quiet", "quiet") +
            "$CLI search --home " + quote(home) + " 2>" + quote(ws.path("plain.err")) + "\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;

    const std::string tty = ws.read("tty.tty");
    // Both adapters are searched at once, and the time left is that of one pass.
    static const std::regex line(
        R"(search: eth0, eth1 \(2 adapters\), \d+ cameras? so far, \d+ s left)");
    EXPECT_TRUE(std::regex_search(tty, line)) << tty;
    EXPECT_EQ(tty.find("search: eth1 ("), std::string::npos) << tty;
    // Drawn in place and cleared before the last words.
    EXPECT_NE(tty.find("\r\033[K"), std::string::npos) << tty;
    EXPECT_GT(tty.rfind("\r\033[K"), tty.rfind(" s left")) << tty;

    // Standard output is the same list with and without the terminal.
    const std::string table = ws.read("tty.out");
    EXPECT_EQ(table.find("so far"), std::string::npos) << table;
    EXPECT_EQ(table.find('\r'), std::string::npos) << table;
    EXPECT_EQ(countOf(table, "\n"), 15u) << table;  // headings, 12 cameras, gap, counters
    EXPECT_EQ(rowsWithoutNumbers(table), rowsWithoutNumbers(r.out));

    // Without a terminal, or with --quiet, no progress text at all.
    const std::string plainErr = ws.read("plain.err");
    EXPECT_EQ(plainErr.find("so far"), std::string::npos) << plainErr;
    EXPECT_EQ(plainErr.find('\r'), std::string::npos) << plainErr;
    const std::string quiet = ws.read("quiet.tty");
    EXPECT_EQ(quiet.find("so far"), std::string::npos) << quiet;
    EXPECT_EQ(rowsWithoutNumbers(ws.read("quiet.out")), rowsWithoutNumbers(r.out));
}

TEST(LabCliSearch, DiscoverSetMatchesAMacTypedInLowerCase) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", R"({
      "defaults": {"model": "KT-5200", "mask": "255.255.255.0", "proto": 2},
      "cameras": [{"mac": "00:80:45:00:00:0A", "ip": "192.168.0.20"}]})");
    const Result r = runInLab(
        ws, {"--fleet", fleet, "--scale", "0.05"},
        "$CLI discover-set --mac 00:80:45:00:00:0a --ip 192.168.0.60 --yes; echo \"rc=$?\"\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("rc=0"), std::string::npos) << r.out << r.err;
    const nlohmann::json out =
        nlohmann::json::parse(r.out.substr(0, r.out.find("rc=")), nullptr, false);
    ASSERT_FALSE(out.is_discarded()) << r.out;
    EXPECT_EQ(out["accepted"], true);
    ASSERT_EQ(out["replies"].size(), 1u);
    EXPECT_EQ(out["replies"][0]["mac"], "00:80:45:00:00:0A");
}
