// What keeps the site's accounts and cameras safe on the command line: changes are asked for
// (nothing is sent without a terminal and without --yes, keys typed during the search answer
// nothing), passwords come from a file, standard input or a no-echo question instead of the
// command line, and a factory reset can be limited to named cameras.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "lab_harness.h"

using namespace lanrove::lab;
using nlohmann::json;

namespace {

constexpr const char* kPassword = "S3cretPw9";  // letters and digits, as the setting rules allow

// One camera whose configuration account is not the factory one, and one that still has it.
constexpr const char* kFleet = R"({
  "defaults": {"model": "KT-5200", "proto": 2, "mask": "255.255.255.0", "gateway": "192.168.0.1"},
  "cameras": [
    {"mac": "00:80:45:00:0C:01", "ip": "192.168.0.20", "title": "Gate",
     "accounts": {"admin": {"user": "site", "password": "S3cretPw9"}}},
    {"mac": "00:80:45:00:0C:02", "ip": "192.168.0.21", "title": "Dock"}
  ]})";

// Bash helpers for a command under a pseudo-terminal (`script`) fed from a FIFO on fd 3:
// `waitfor FILE TEXT` waits (up to 60 s) until FILE shows TEXT; `answer FILE TEXT LINE` then
// types LINE.
constexpr const char* kPtyHelpers = R"(
waitfor() {
  for _ in $(seq 1 600); do grep -q -- "$2" "$1" 2>/dev/null && break; sleep 0.1; done
}
answer() { waitfor "$1" "$2"; printf '%s\n' "$3" >&3; }
# The command lines of the running lanrove-cli processes (not the script wrapper).
cli_args() { for p in $(pgrep -x lanrove-cli); do tr '\0' ' ' </proc/$p/cmdline; echo; done; }
)";

std::string titleOf(const json& search, const std::string& mac) {
    const auto cameras = camerasByMac(search["cameras"]);
    const auto it = cameras.find(mac);
    return it == cameras.end() ? std::string("(missing)") : it->second["title"].get<std::string>();
}

}  // namespace

TEST(LabCliSecurity, DiscoverSetWithoutYesAndWithoutTerminalSendsNothing) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", kFleet);
    const Result r = runInLab(
        ws, {"--fleet", fleet, "--camsim-log", ws.path("camsim.log"), "--scale", "0.05"},
        "echo @@set; $CLI discover-set --mac 00:80:45:00:0C:02 --ip 192.168.0.60 </dev/null; "
        "echo rc=$?\n"
        "echo @@after; $CLI discover\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string set = section(r.out, "set");
    EXPECT_NE(set.find("rc=2"), std::string::npos) << r.out << r.err;
    EXPECT_EQ(set.find("sends"), std::string::npos) << set;  // no run was made
    EXPECT_NE(r.err.find("lanrove-cli discover-set: no terminal to confirm on; give --yes"),
              std::string::npos)
        << r.err;
    // The camera kept its address: no setting datagram reached it.
    const json after = parseSection(r.out, "after");
    const auto cameras = camerasByMac(after["cameras"]);
    ASSERT_EQ(cameras.count("00:80:45:00:0C:02"), 1u) << after.dump(2);
    EXPECT_EQ(cameras.at("00:80:45:00:0C:02")["ip"], "192.168.0.21");
}

TEST(LabCliSecurity, PasswordFromFileStandardInputEnvironmentAndTheQuestionNeverInTheProcessList) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", kFleet);
    // Only the first line counts (a second one must not end up in the password).
    const std::string pwFile = ws.write("pw.txt", std::string(kPassword) + "\nnot this line\n");
    const std::string wrongFile = ws.write("wrong.txt", "vorly\n");
    const std::string info = "$CLI info --ip 192.168.0.20 --user site --json";
    const std::string script =
        std::string(kPtyHelpers) + "cd " + quote(ws.path("")) +
        "\n"
        "echo @@file; " +
        info + " --password-file " + quote(pwFile) +
        "; echo rc=$?\n"
        "echo @@wrong; " +
        info + " --password-file " + quote(wrongFile) +
        "; echo rc=$?\n"
        "echo @@env; LANROVE_PASSWORD=" +
        kPassword + " " + info +
        "; echo rc=$?\n"
        // Standard input: the command waits on the FIFO while its process list entry is read.
        "mkfifo stdin.fifo\n" +
        info +
        " --password-file - <stdin.fifo >stdin.out & pid=$!\n"
        "exec 3>stdin.fifo\n"
        "for _ in $(seq 1 600); do pgrep -x lanrove-cli >/dev/null && break; sleep 0.1; done\n"
        "echo @@stdinps; cli_args\n"
        "printf '%s\\n' " +
        kPassword +
        " >&3; exec 3>&-\n"
        "wait $pid; echo @@stdin; cat stdin.out; echo rc=$?\n"
        // The question on a terminal, without echo; the process list read while it waits.
        "export CLI\n"
        "mkfifo tty.fifo\n"
        "script -qfec \"$CLI info --ip 192.168.0.20 --user site --json\" /dev/null <tty.fifo "
        ">tty.out & pid=$!\n"
        "exec 3>tty.fifo\n"
        "waitfor tty.out 'Password for site: '\n"
        "echo @@ttyps; cli_args\n"
        "printf '%s\\n' " +
        kPassword +
        " >&3\n"
        "wait $pid; rc=$?; exec 3>&-\n"
        "echo @@tty; cat tty.out; echo rc=$rc\n"
        // set: the camera refuses the factory account, the given one from the file is used.
        "echo @@set; $CLI set --mac 00:80:45:00:0C:01 --title Gate2 --user site --password-file " +
        quote(pwFile) +
        " --yes --json; echo rc=$?\n"
        "echo @@search; $CLI search --json\n"
        "echo @@end\n";
    const Result r = runInLab(ws, {"--fleet", fleet, "--scale", "0.05"}, script);
    ASSERT_EQ(r.exitCode, 0) << r.err;

    EXPECT_EQ(parseSection(r.out, "file")["login"]["result"], "ok") << r.out << r.err;
    EXPECT_EQ(parseSection(r.out, "wrong")["login"]["result"], "failed") << r.out;
    EXPECT_EQ(parseSection(r.out, "env")["login"]["result"], "ok") << r.out;
    EXPECT_EQ(parseSection(r.out, "stdin")["login"]["result"], "ok") << r.out << r.err;

    // The running commands' arguments name where the password is, never the password.
    const std::string stdinPs = section(r.out, "stdinps");
    EXPECT_NE(stdinPs.find("--password-file -"), std::string::npos) << stdinPs;
    EXPECT_EQ(stdinPs.find(kPassword), std::string::npos) << stdinPs;
    const std::string ttyPs = section(r.out, "ttyps");
    EXPECT_NE(ttyPs.find("--user site"), std::string::npos) << ttyPs;
    EXPECT_EQ(ttyPs.find(kPassword), std::string::npos) << ttyPs;

    // Asked on the terminal, typed without echo, logged in.
    const std::string tty = section(r.out, "tty");
    EXPECT_NE(tty.find("Password for site: "), std::string::npos) << tty;
    EXPECT_EQ(tty.find(kPassword), std::string::npos) << "echoed: " << tty;
    EXPECT_NE(tty.find("rc=0"), std::string::npos) << tty << r.err;
    const std::string ttyJson = tty.substr(tty.find('{'), tty.rfind('}') - tty.find('{') + 1);
    const json ttyOut = json::parse(ttyJson, nullptr, false);
    ASSERT_FALSE(ttyOut.is_discarded()) << tty;
    EXPECT_EQ(ttyOut["login"]["result"], "ok");

    EXPECT_NE(section(r.out, "set").find("rc=0"), std::string::npos) << r.out << r.err;
    EXPECT_EQ(titleOf(parseSection(r.out, "search"), "00:80:45:00:0C:01"), "Gate2");
}

TEST(LabCliSecurity, KeysTypedDuringTheSearchDoNotAnswerTheQuestion) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", kFleet);
    // "y" goes in as soon as the command starts, long before its question; the question is
    // then answered No. Were the early key kept, it would answer Yes.
    const std::string script =
        std::string(kPtyHelpers) + "cd " + quote(ws.path("")) +
        "\nexport CLI\n"
        "mkfifo tty.fifo\n"
        "script -qfec \"$CLI set --mac 00:80:45:00:0C:02 --title Typed\" /dev/null <tty.fifo "
        ">tty.out & pid=$!\n"
        "exec 3>tty.fifo\n"
        "printf 'y\\n' >&3\n"
        "answer tty.out '\\[y/N\\]' n\n"
        "wait $pid; rc=$?; exec 3>&-\n"
        "echo @@tty; cat tty.out; echo rc=$rc\n"
        "echo @@search; $CLI search --json\n"
        "echo @@end\n";
    const Result r = runInLab(ws, {"--fleet", fleet, "--scale", "0.05"}, script);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string tty = section(r.out, "tty");
    // The question names the account's trip in clear, and No changed nothing.
    EXPECT_NE(tty.find("unencrypted"), std::string::npos) << tty;
    EXPECT_NE(tty.find("set: nothing changed"), std::string::npos) << tty;
    EXPECT_NE(tty.find("rc=2"), std::string::npos) << tty;
    EXPECT_EQ(titleOf(parseSection(r.out, "search"), "00:80:45:00:0C:02"), "Dock");
}

TEST(LabCliSecurity, FactoryResetWithMacResetsOnlyTheNamedCamera) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", R"({
      "defaults": {"model": "KT-5200", "proto": 2, "mask": "255.255.255.0"},
      "cameras": [
        {"mac": "00:1B:7C:00:0D:01", "ip": "192.168.0.50", "title": "Yard"},
        {"mac": "00:1B:7C:00:0D:02", "ip": "192.168.0.51", "title": "Bay"},
        {"mac": "00:1B:7C:00:0D:03", "ip": "192.168.0.2", "factory": true}
      ]})");
    const std::string fw = ws.path("lanrove-cli_FWTOOL");  // the maintenance edition's name
    std::filesystem::create_symlink(cli(), fw);
    const std::string home = " --home " + quote(ws.path("home"));
    const Result r = runInLab(
        ws, {"--fleet", fleet, "--scale", "0.05"},
        // A MAC that is not in the list: nothing is sent to any camera.
        "echo @@unknown; " + quote(fw) + " factory-reset --yes --json --mac 00:1b:7c:00:0d:09" +
            home +
            "; echo rc=$?\n"
            "echo @@reset; " +
            quote(fw) + " factory-reset --yes --json --mac 00:1b:7c:00:0d:02" + home +
            "; echo rc=$?\n"
            "echo @@end\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string unknown = section(r.out, "unknown");
    EXPECT_NE(unknown.find("rc=2"), std::string::npos) << r.out << r.err;
    EXPECT_NE(r.err.find("factory-reset: no camera with MAC 00:1b:7c:00:0d:09 was found"),
              std::string::npos)
        << r.err;

    EXPECT_NE(section(r.out, "reset").find("rc=0"), std::string::npos) << r.out << r.err;
    const json out = parseSection(r.out, "reset");
    ASSERT_EQ(out["cameras"].size(), 1u) << out.dump(2);
    EXPECT_EQ(out["cameras"][0]["mac"], "00:1B:7C:00:0D:02");
    EXPECT_TRUE(out["cameras"][0]["accepted"].get<bool>());
    // The search after it: only the named camera is back at the factory address.
    const auto after = camerasByMac(out["after"]);
    ASSERT_EQ(after.size(), 3u) << out.dump(2);
    EXPECT_EQ(after.at("00:1B:7C:00:0D:01")["ip"], "192.168.0.50");
    EXPECT_EQ(after.at("00:1B:7C:00:0D:01")["title"], "Yard");
    EXPECT_EQ(after.at("00:1B:7C:00:0D:02")["ip"], "192.168.0.2");
    EXPECT_EQ(after.at("00:1B:7C:00:0D:02")["status"], "NEW");
    EXPECT_EQ(after.at("00:1B:7C:00:0D:03")["ip"], "192.168.0.2");
}
