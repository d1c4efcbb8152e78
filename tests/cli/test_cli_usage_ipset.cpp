// The command lines of set, auto-set and apply: --help with the options and exit codes, and
// every malformed value refused in one line with exit code 2 while the command line is parsed,
// so that no search starts (no "search:" line, no session folder written).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "cli/progress.h"
#include "cli_run.h"

using lanrove::testing::CliRun;
using lanrove::testing::runCliSplit;

namespace {

// A program folder of its own: a parse error must leave it empty (no log, no settings).
class IpSetUsage : public ::testing::Test {
  protected:
    void SetUp() override {
        home = std::filesystem::temp_directory_path() /
               ("lanrove-cli-usage-ipset-" + std::to_string(::getpid()));
        std::filesystem::create_directories(home);
    }
    void TearDown() override { std::filesystem::remove_all(home); }
    CliRun run(const std::string& args) { return runCliSplit(args + " --home " + home.string()); }
    bool homeUntouched() const { return std::filesystem::is_empty(home); }
    std::filesystem::path home;
};

}  // namespace

TEST(IpSetHelp, ShowsTheOptionsAndTheCommandsOwnExitCodes) {
    struct Case {
        const char* command;
        std::vector<const char*> wanted;
    };
    for (const Case& c : {
             Case{"auto-set",
                  {"--from ADDRESS", "REQUIRED", "--to ADDRESS", "--interface IF", "--yes",
                   "--json", "--home DIR", "1  a NEW camera was not set", "130  cancelled"}},
             Case{"set",
                  {"--mac MAC", "REQUIRED", "--ip ADDRESS", "--mask MASK", "--gateway ADDRESS",
                   "--port PORT", "--ssl on|off ", "--title TITLE", "--user USER",
                   "--password PASSWORD", "--password-file FILE", "1  the camera was not found",
                   "130  cancelled"}},
             Case{"apply",
                  {"PLAN.csv", "--dry-run", "--interface IF", "--yes", "--json", "--user USER",
                   "--password-file FILE", "1  a row was neither set nor already as planned",
                   "2  the plan is malformed", "130  cancelled"}},
         }) {
        const CliRun r = runCliSplit(std::string(c.command) + " --help");
        EXPECT_EQ(r.exitCode, 0) << c.command;
        EXPECT_TRUE(r.err.empty()) << r.err;
        EXPECT_NE(r.out.find(std::string("Usage: lanrove-cli ") + c.command), std::string::npos)
            << r.out;
        for (const char* text : c.wanted)
            EXPECT_NE(r.out.find(text), std::string::npos) << c.command << ": " << text << "\n"
                                                           << r.out;
        EXPECT_NE(r.out.find("Exit codes:\n  0  success\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("  2  bad command line"), std::string::npos) << r.out;
    }
}

TEST_F(IpSetUsage, MalformedValuesAreRefusedInOneLineBeforeAnySearch) {
    struct Case {
        const char* args;
        const char* firstLine;  // "" where only the form is checked
    };
    const std::string mac = "set --mac 00:1B:7C:00:01:02 --yes";
    for (const Case& c : {
             // auto-set
             Case{"auto-set --from 999.1.1.1 --yes",
                  "lanrove-cli auto-set: --from: 999.1.1.1 is not an IPv4 address"},
             Case{"auto-set --from 192.168.0.20 --to 192.168.0.1000 --yes",
                  "lanrove-cli auto-set: --to: 192.168.0.1000 is not an IPv4 address"},
             Case{"auto-set --from 192.168.0 --yes",
                  "lanrove-cli auto-set: --from: 192.168.0 is not an IPv4 address"},
             Case{"auto-set --to 192.168.0.40 --yes", "lanrove-cli auto-set: --from is required"},
             Case{"auto-set --from 192.168.0.20 --bogus --yes",
                  "lanrove-cli auto-set: unknown option '--bogus'"},
             Case{"auto-set --from 192.168.0.20 192.168.0.40 --yes",
                  "lanrove-cli auto-set: unexpected argument '192.168.0.40'"},
             Case{"auto-set --from", ""},
             // set: every address, mask, port and MAC form
             Case{"set --ip 192.168.0.31 --yes", "lanrove-cli set: --mac is required"},
             Case{"set --mac 00-1B --yes",
                  "lanrove-cli set: --mac: 00-1B is not a MAC address such as 00:1B:7C:00:01:02"},
             Case{"set --mac 00:1B:7C:00:01:0G --yes", ""},
             Case{"set --mac 00:1B:7C:00:01:02 --ip 999.1.1.1 --yes",
                  "lanrove-cli set: --ip: 999.1.1.1 is not an IPv4 address"},
             Case{"set --mac 00:1B:7C:00:01:02 --gateway 192.168.0 --yes",
                  "lanrove-cli set: --gateway: 192.168.0 is not an IPv4 address"},
             Case{"set --mac 00:1B:7C:00:01:02 --mask 255.0.255.0 --yes",
                  "lanrove-cli set: --mask: 255.0.255.0 is not a subnet mask"},
             Case{"set --mac 00:1B:7C:00:01:02 --port 65536 --yes",
                  "lanrove-cli set: --port: 65536 is not a port number (1 to 65535)"},
             Case{"set --mac 00:1B:7C:00:01:02 --port 8a --yes",
                  "lanrove-cli set: --port: 8a is not a port number (1 to 65535)"},
             Case{"set --mac 00:1B:7C:00:01:02 --port 0 --yes", ""},
             // set: the rules the old parser had
             Case{"set --mac 00:1B:7C:00:01:02 --ssl yes --yes", ""},
             Case{"set --mac 00:1B:7C:00:01:02 --ssl 1 --yes", ""},
             Case{"set --mac 00:1B:7C:00:01:02 --title 12345678901234567 --yes",
                  "lanrove-cli set: --title: 12345678901234567 is longer than 16 characters"},
             Case{"set --mac 00:1B:7C:00:01:02 --user owner --yes",
                  "lanrove-cli set: --user owner needs its password: give --password-file FILE, "
                  "set LANROVE_PASSWORD, or run on a terminal to be asked"},
             Case{"set --mac 00:1B:7C:00:01:02 --password-file pw.txt --yes",
                  "lanrove-cli set: --password-file requires --user"},
             Case{"set --mac 00:1B:7C:00:01:02 --user owner --password-file /dev/null --yes",
                  "lanrove-cli set: --password-file: /dev/null holds no password"},
             Case{"set --mac 00:1B:7C:00:01:02 --password secret9 --yes",
                  "lanrove-cli set: --password requires --user"},
             Case{"set --mac 00:1B:7C:00:01:02 --interface eth0 --yes",
                  "lanrove-cli set: unknown option '--interface'"},
             // apply
             Case{"apply --yes", "lanrove-cli apply: PLAN is required"},
             Case{"apply plan.csv other.csv --yes",
                  "lanrove-cli apply: unexpected argument 'other.csv'"},
             Case{"apply plan.csv --dry --yes", "lanrove-cli apply: unknown option '--dry'"},
             Case{"apply plan.csv --password-file - --yes",
                  "lanrove-cli apply: --password-file requires --user"},
         }) {
        const CliRun r = run(c.args);
        EXPECT_EQ(r.exitCode, 2) << c.args;
        EXPECT_TRUE(r.out.empty()) << c.args << ": " << r.out;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << c.args << ": " << r.err;
        EXPECT_EQ(r.err.rfind("lanrove-cli ", 0), 0u) << c.args << ": " << r.err;
        if (*c.firstLine != 0) {
            EXPECT_EQ(r.firstErrLine(), c.firstLine) << c.args;
        }
        EXPECT_TRUE(homeUntouched()) << c.args << ": a session was opened";
    }
}

TEST_F(IpSetUsage, TitleLengthCountsCharactersNotBytes) {
    // Sixteen characters of Japanese are 48 bytes of UTF-8 and still fit the field; the run
    // then stops at the missing terminal, after parsing.
    const CliRun fits =
        run("set --mac 00:1B:7C:00:01:02 --title 'カメラカメラカメラカメラカメラカ'");
    EXPECT_EQ(fits.firstErrLine(),
              "lanrove-cli set: no terminal to confirm on; give --yes to go ahead");
    EXPECT_EQ(fits.exitCode, 2);
    const CliRun tooLong =
        run("set --mac 00:1B:7C:00:01:02 --title 'カメラカメラカメラカメラカメラカメラ' --yes");
    EXPECT_EQ(tooLong.exitCode, 2);
    EXPECT_NE(tooLong.firstErrLine().find("is longer than 16 characters"), std::string::npos)
        << tooLong.err;
}

TEST_F(IpSetUsage, MalformedOrMissingPlanIsToldWithItsLineAndNothingElse) {
    const std::string bad = (home / "bad.csv").string();
    {
        std::ofstream out(bad);
        out << "mac,ip\n00:1B:7C:00:09:01,192.168.0.31\n00:1B:7C:00:09:0Z,192.168.0.32\n";
    }
    CliRun r = runCliSplit("apply " + bad + " --yes --home " + home.string());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_EQ(r.err.rfind("lanrove-cli apply: " + bad + " line 3: ", 0), 0u) << r.err;

    // A --user account that breaks the login rule stops the run before anything is sent.
    const std::string good = (home / "good.csv").string();
    std::ofstream(good) << "mac,ip\n00:1B:7C:00:09:01,192.168.0.31\n";
    std::ofstream(home / "pw.txt") << "x\n";
    r = runCliSplit("apply " + good + " --user ab --password-file " + (home / "pw.txt").string() +
                    " --yes --home " + home.string());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_EQ(r.err, "lanrove-cli apply: user and password are 4 to 32 letters or digits\n");

    r = run("apply " + (home / "none.csv").string() + " --dry-run");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err.rfind("lanrove-cli apply: " + (home / "none.csv").string() + ": ", 0), 0u)
        << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
}

TEST(IpSetProgress, TextsOfTheProbeAndTheSettings) {
    using lanrove::cli::probeProgressText;
    using lanrove::cli::settingProgressText;
    EXPECT_EQ(probeProgressText("auto-set", 12, 4),
              "auto-set: finding free addresses for 12 cameras, 4 s so far");
    EXPECT_EQ(probeProgressText("auto-set", 1, 0),
              "auto-set: finding free addresses for 1 camera, 0 s so far");
    EXPECT_EQ(settingProgressText("auto-set", 3, 12, "192.168.0.23", 6),
              "auto-set: 3 of 12 cameras, 192.168.0.23, 6 s left");
    // Before the first answer there is no address; apply tells no time.
    EXPECT_EQ(settingProgressText("auto-set", 0, 1, "", 9), "auto-set: 0 of 1 camera, 9 s left");
    EXPECT_EQ(settingProgressText("apply", 1, 5, "00:1B:7C:00:09:02 -> 192.168.0.32", -1),
              "apply: 1 of 5 cameras, 00:1B:7C:00:09:02 -> 192.168.0.32");
}
