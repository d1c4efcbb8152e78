// The command lines of firmware, image and the maintenance edition's fw-check, fw-update and
// factory-reset: --help with the options and exit codes, and one-line errors with exit code 2
// for malformed input, given before anything is searched or sent. The maintenance commands run
// in a network namespace of their own with no interface up, so that a line wrongly accepted
// could not reach any network.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "cli/progress.h"
#include "cli_run.h"

using lanrove::testing::CliRun;
using lanrove::testing::runCliSplit;

namespace {

class CliUsageFw : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0 || std::system("unshare -n true >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "needs root to run the tool in a network namespace of its own";
        dir = std::filesystem::temp_directory_path() /
              ("lanrove-cli-usage-fw-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir / "home");
        // The maintenance edition: a link whose name holds the marker.
        std::filesystem::create_symlink(std::string(LANROVE_BINARY_DIR) + "/src/lanrove-cli",
                                        dir / "lanrove-cli_fwtool");
    }
    void TearDown() override {
        if (!dir.empty()) std::filesystem::remove_all(dir);
    }

    // Runs the maintenance edition: runCliSplit's program path is "<prefix><build>/src/
    // lanrove-cli ARGS", so the prefix starts a shell that drops that path and runs the link.
    CliRun fwtool(const std::string& args) {
        return runCliSplit(args + " --home " + (dir / "home").string(),
                           "unshare -n sh -c 'shift; exec \"$0\" \"$@\"' " +
                               (dir / "lanrove-cli_fwtool").string() + " ");
    }
    CliRun standard(const std::string& args) { return runCliSplit(args, "unshare -n "); }

    std::filesystem::path dir;
};

void expectHelp(const CliRun& r, const std::string& command,
                std::initializer_list<const char*> wanted) {
    EXPECT_EQ(r.exitCode, 0) << command << ": " << r.err;
    EXPECT_TRUE(r.err.empty()) << command << ": " << r.err;
    EXPECT_NE(r.out.find("\nUsage: "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" " + command), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Exit codes:\n  0  success\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  2  bad command line"), std::string::npos) << r.out;
    for (const char* text : wanted) EXPECT_NE(r.out.find(text), std::string::npos) << r.out;
}

// Exit 2, nothing on standard output, one line on standard error (and that line when given).
void expectRefused(const CliRun& r, const std::string& args, const std::string& firstLine) {
    EXPECT_EQ(r.exitCode, 2) << args << ": " << r.err;
    EXPECT_TRUE(r.out.empty()) << args << ": " << r.out;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << args << ": " << r.err;
    // No search ran: it would have told its count.
    EXPECT_EQ(r.err.find("search:"), std::string::npos) << args << ": " << r.err;
    if (!firstLine.empty()) {
        EXPECT_EQ(r.firstErrLine(), firstLine) << args;
    } else {
        EXPECT_EQ(r.err.rfind("lanrove-cli ", 0), 0u) << args << ": " << r.err;
    }
}

}  // namespace

TEST_F(CliUsageFw, HelpShowsOptionsAndExitCodes) {
    expectHelp(standard("firmware --help"), "firmware",
               {"--model", "--gen", "--file", "--json", "--home",
                "1  the model is not in the catalogue, or the file cannot be read"});
    expectHelp(standard("image --help"), "image",
               {"--ip", "--port", "--ssl", "--user", "--password", "--out", "--count",
                "1  the camera did not answer the login or sent no picture"});
    expectHelp(
        fwtool("fw-check --help"), "fw-check",
        {"--interface", "--json", "1  a camera could not be reached", "130  interrupted (Ctrl-C)"});
    expectHelp(fwtool("fw-update --help"), "fw-update",
               {"--mac", "--yes", "--quiet", "--interface", "1  a camera's update failed",
                "130  cancelled (Ctrl-C)"});
    expectHelp(fwtool("factory-reset --help"), "factory-reset",
               {"--yes", "--json", "--interface", "1  a camera did not accept the reset",
                "130  interrupted (Ctrl-C)"});
}

TEST_F(CliUsageFw, MalformedStandardCommandsGiveOneLine) {
    struct Case {
        const char* args;
        const char* firstLine;  // "" for the form only
    };
    for (const Case& c : {
             Case{"firmware", "lanrove-cli firmware: --model or --file is required (or --gen 1)"},
             Case{"firmware --model KT-6500 --file x.bin",
                  "lanrove-cli firmware: --model excludes --file"},
             Case{"firmware --gen 1 --file x.bin", "lanrove-cli firmware: --gen excludes --file"},
             Case{"firmware --model KT-6500 --gen 3", ""},
             Case{"firmware --model KT-6500 --gen 02", ""},
             Case{"firmware --model ''", "lanrove-cli firmware: --model: the value is empty"},
             Case{"firmware --model", ""},
             Case{"firmware --model KT-6500 --colour",
                  "lanrove-cli firmware: unknown option '--colour'"},
             Case{"image --ip 999.1.1.1 --out x.jpg",
                  "lanrove-cli image: --ip: 999.1.1.1 is not an IPv4 address"},
             Case{"image --ip https://127.0.0.1 --out x.jpg", ""},
             Case{"image --ip 127.0.0.1 --out x.jpg --port 70000",
                  "lanrove-cli image: --port: 70000 is not a port number (1 to 65535)"},
             Case{"image --ip 127.0.0.1 --out x.jpg --count 0", ""},
             Case{"image --ip 127.0.0.1 --out x.jpg --count two", ""},
             Case{"image --ip 127.0.0.1 --out x.jpg --count 1001", ""},
             Case{"image --ip 127.0.0.1", "lanrove-cli image: --out is required"},
             Case{"image --out x.jpg", "lanrove-cli image: --ip is required"},
             Case{"image --ip 127.0.0.1 --out x.jpg --user a",
                  "lanrove-cli image: --user a needs its password: give --password-file FILE, "
                  "set LANROVE_PASSWORD, or run on a terminal to be asked"},
             Case{"image --ip 127.0.0.1 --out x.jpg now",
                  "lanrove-cli image: unexpected argument 'now'"},
             // ping takes host names too, but not text that no name or address can be.
             Case{"ping 10.0.0.1 'bad name'",
                  "lanrove-cli ping: TARGET: bad name is not an IPv4 address or host name"},
         }) {
        expectRefused(standard(c.args), c.args, c.firstLine);
    }
}

TEST_F(CliUsageFw, MalformedMaintenanceCommandsAreRefusedBeforeTheSearch) {
    struct Case {
        const char* args;
        const char* firstLine;
    };
    for (const Case& c : {
             Case{"fw-update --yes --mac 00:11:22:33:44",
                  "lanrove-cli fw-update: --mac: 00:11:22:33:44 is not a MAC address such as "
                  "00:1B:7C:00:01:02"},
             Case{"fw-update --yes --mac 00:11:22:33:44:55 --mac 00:11:22:33:44:zz", ""},
             Case{"fw-update --yes --mac 00:11:22:33:44:55 00:11:22:33:44:66",
                  "lanrove-cli fw-update: unexpected argument '00:11:22:33:44:66'"},
             Case{"fw-update --yes --mac", ""},
             Case{"fw-update",
                  "lanrove-cli fw-update: no terminal to confirm on; give --yes to go "
                  "ahead"},
             Case{"fw-update --yes --gen 2", "lanrove-cli fw-update: unknown option '--gen'"},
             Case{"fw-check --yes", "lanrove-cli fw-check: unknown option '--yes'"},
             Case{"fw-check --mac 00:11:22:33:44:55",
                  "lanrove-cli fw-check: unknown option '--mac'"},
             Case{"fw-check --interface", ""},
             Case{"factory-reset --yes --colour",
                  "lanrove-cli factory-reset: unknown option '--colour'"},
             Case{"factory-reset",
                  "lanrove-cli factory-reset: no terminal to confirm on; give --yes to go ahead"},
         }) {
        expectRefused(fwtool(c.args), c.args, c.firstLine);
    }
}

TEST_F(CliUsageFw, EveryMacGivenIsLookedForAndAnUnknownOneStopsTheRun) {
    // No interface is up: the search finds nothing, so the first MAC is not found. A MAC with
    // '-' separators is taken as the same MAC with ':'.
    const CliRun r = fwtool("fw-update --yes --mac 00-1b-7c-00-01-02 --mac 00:1B:7C:00:01:03");
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_NE(r.err.find("search: 0 cameras\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("lanrove-cli fw-update: no camera with MAC 00:1b:7c:00:01:02 was found\n"),
              std::string::npos)
        << r.err;
    // --quiet keeps the search's count off standard error; the refusal stays.
    const CliRun quiet = fwtool("fw-update --yes --quiet --mac 00:1B:7C:00:01:03");
    EXPECT_EQ(quiet.exitCode, 2);
    EXPECT_EQ(quiet.err, "lanrove-cli fw-update: no camera with MAC 00:1B:7C:00:01:03 was found\n");
}

TEST(CliFwProgress, StatusLineTellsCountsBytesAndSteps) {
    using lanrove::cli::FirmwareStepProgress;
    using lanrove::cli::firmwareUpdateProgressText;
    EXPECT_EQ(
        firmwareUpdateProgressText(1, 3,
                                   {FirmwareStepProgress{"2", "uploading", 1258291, 2726298, 4},
                                    FirmwareStepProgress{"3", "restarting", 2726298, 2726298, 12},
                                    FirmwareStepProgress{"4", "waiting", 0, 0, -1}},
                                   -1),
        "update: 1 of 3 cameras done, No.2 uploading 46% (1.2 of 2.6 MiB) 4 s, No.3 restarting "
        "12 s, No.4 waiting");
    // Small images in KiB or bytes; a counter past the total never shows more than 100%.
    EXPECT_EQ(firmwareUpdateProgressText(0, 1, {{"1", "uploading", 307200, 921600, 0}}, -1),
              "update: 0 of 1 camera done, No.1 uploading 33% (300 of 900 KiB)");
    EXPECT_EQ(firmwareUpdateProgressText(0, 1, {{"1", "uploading", 900, 800, -1}}, -1),
              "update: 0 of 1 camera done, No.1 uploading 100% (800 of 800 bytes)");
    // No total yet: no percentage (and no division by zero).
    EXPECT_EQ(firmwareUpdateProgressText(0, 2, {{"7", "uploading", 0, 0, 1}}, -1),
              "update: 0 of 2 cameras done, No.7 uploading 1 s");
    // 4 GiB less one byte: the percentage is computed without overflow.
    EXPECT_EQ(
        firmwareUpdateProgressText(0, 1, {{"1", "uploading", 0xFFFFFFFEU, 0xFFFFFFFFU, -1}}, -1),
        "update: 0 of 1 camera done, No.1 uploading 99% (4096.0 of 4096.0 MiB)");
    EXPECT_EQ(firmwareUpdateProgressText(3, 3, {}, 45),
              "update: 3 of 3 cameras done, waiting for restarts, 45 s left");
}
