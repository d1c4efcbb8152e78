// Where the programs write: an installed copy run by root keeps its folder untouched and writes
// its logs, private, into root's own data folder.
#include <gtest/gtest.h>

#include <string>

#include "lab_harness.h"

using namespace lanrove::lab;

namespace {

constexpr const char* kFleet = R"({
  "defaults": {"model": "KT-5200", "proto": 2, "mask": "255.255.255.0"},
  "cameras": [{"mac": "00:80:45:00:0F:01", "ip": "192.168.0.20", "title": "Gate"}]})";

}  // namespace

TEST(LabFiles, RootRunningAnInstalledCopyWritesNothingBesideIt) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", kFleet);
    // The workspace's "opt" is mounted over /opt in a mount namespace of the command's own, so
    // the copy runs from /opt/lanrove-test/bin as an installed one would, and the machine's /opt
    // never changes. The folder is root's and root may write it: the rule alone keeps it clean.
    const Result r = runInLab(
        ws, {"--fleet", fleet, "--scale", "0.05"},
        "W=" + quote(ws.path("")) +
            "\n"
            "mkdir -p \"$W/opt/lanrove-test/bin\" \"$W/home\"\n"
            "cp \"$CLI\" \"$W/opt/lanrove-test/bin/lanrove-cli\"\n"
            "export W\n"
            "unshare -m bash -c '\n"
            "  mount --bind \"$W/opt\" /opt || exit 9\n"
            "  cd /opt/lanrove-test/bin\n"
            "  echo @@search\n"
            "  env -u LANROVE_HOME -u XDG_DATA_HOME HOME=\"$W/home\" "
            "/opt/lanrove-test/bin/lanrove-cli search --json --quiet; echo rc=$?\n"
            "  echo @@installed; find /opt/lanrove-test -mindepth 1 | sort\n"
            "  echo @@data; find \"$W/home\" -mindepth 1 -printf \"%m %y %P\\n\" | sort -k3\n"
            "  echo @@end'\n"
            "echo @@outside; [ -e /opt/lanrove-test ] && echo leaked || echo clean\n");
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(section(r.out, "search").find("00:80:45:00:0F:01"), std::string::npos) << r.out;
    EXPECT_NE(section(r.out, "search").find("rc=0"), std::string::npos) << r.out << r.err;
    // Only the program itself: no settings, no IPLog, no journal beside it.
    EXPECT_EQ(section(r.out, "installed"),
              "/opt/lanrove-test/bin\n/opt/lanrove-test/bin/lanrove-cli\n")
        << r.out;
    // The logs went to the user's data folder, which only the user may enter, and are not
    // readable by others.
    const std::string data = section(r.out, "data");
    EXPECT_NE(data.find("700 d .local/share/lanrove-setup\n"), std::string::npos) << data;
    EXPECT_NE(data.find("d .local/share/lanrove-setup/IPLog\n"), std::string::npos) << data;
    const std::size_t log = data.find(" f .local/share/lanrove-setup/IPLog/LanroveSetupUtility-");
    ASSERT_NE(log, std::string::npos) << data;
    EXPECT_EQ(data.substr(data.rfind('\n', log) + 1, log - data.rfind('\n', log) - 1), "640")
        << data;
    EXPECT_EQ(section(r.out, "outside"), "clean\n");
}
