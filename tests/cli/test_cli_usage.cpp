// The command line itself: the command list, --help and --version, and the one-line errors
// with exit code 2 for everything malformed, before anything is sent.
#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/progress.h"
#include "cli_run.h"

using lanrove::testing::CliRun;
using lanrove::testing::runCliSplit;

TEST(CliUsage, HelpListsEveryCommandAndVersionPrintsTheNumbers) {
    const CliRun help = runCliSplit("--help");
    EXPECT_EQ(help.exitCode, 0);
    for (const char* name : {"adapters", "info", "ping", "search", "set", "version"})
        EXPECT_NE(help.out.find(std::string("\n  ") + name + " "), std::string::npos) << name;
    // The maintenance edition's commands are not offered here.
    EXPECT_EQ(help.out.find("fw-update"), std::string::npos);
    EXPECT_EQ(runCliSplit("help").out, help.out);

    const CliRun none = runCliSplit("");
    EXPECT_EQ(none.exitCode, 2);
    EXPECT_TRUE(none.out.empty());
    EXPECT_NE(none.err.find("Usage: lanrove-cli"), std::string::npos) << none.err;

    const CliRun version = runCliSplit("--version");
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "lanrove-cli 1.0.6.1\n");
}

TEST(CliUsage, UnknownAndMaintenanceCommandsAreRefused) {
    const CliRun unknown = runCliSplit("serch --json");
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_EQ(unknown.firstErrLine(),
              "lanrove-cli: unknown command 'serch' (see lanrove-cli --help)");
    const CliRun maintenance = runCliSplit("fw-update --yes");
    EXPECT_EQ(maintenance.exitCode, 2);
    EXPECT_NE(maintenance.firstErrLine().find("maintenance edition"), std::string::npos)
        << maintenance.err;
    EXPECT_TRUE(unknown.out.empty() && maintenance.out.empty());
}

TEST(CliUsage, CommandHelpShowsOptionsAndExitCodes) {
    struct Case {
        const char* command;
        const char* option;
        const char* exitCode1;
    };
    for (const Case& c : {Case{"info", "--codepage", "1  a request failed"},
                          Case{"ping", "--timeout", "1  a target did not answer"},
                          Case{"adapters", "--no-check", "1  the network check failed"},
                          Case{"version", "--help", "1  the version could not be read"}}) {
        const CliRun r = runCliSplit(std::string(c.command) + " --help");
        EXPECT_EQ(r.exitCode, 0) << c.command;
        // The summary line, then the usage line.
        EXPECT_NE(r.out.find(std::string("\nUsage: lanrove-cli ") + c.command), std::string::npos)
            << r.out;
        EXPECT_NE(r.out.find(c.option), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("Exit codes:\n  0  success\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(c.exitCode1), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("  2  bad command line"), std::string::npos) << r.out;
        EXPECT_TRUE(r.err.empty()) << r.err;
    }
}

TEST(CliUsage, ExitCodesAreListedInNumericOrder) {
    const CliRun r = runCliSplit("search --help");
    const auto two = r.out.find("\n  2  bad command line");
    const auto cancelled = r.out.find("\n  130  ");
    ASSERT_NE(two, std::string::npos) << r.out;
    ASSERT_NE(cancelled, std::string::npos) << r.out;
    EXPECT_LT(r.out.find("\n  1  "), two) << r.out;
    EXPECT_LT(two, cancelled) << r.out;
}

TEST(CliUsage, MalformedInputGivesOneLineAndExitTwo) {
    struct Case {
        const char* args;
        const char* firstLine;
    };
    for (const Case& c : {
             Case{"info --ip 999.1.1.1",
                  "lanrove-cli info: --ip: 999.1.1.1 is not an IPv4 address"},
             Case{"info --ip 10.0.0.1 --port 65536",
                  "lanrove-cli info: --port: 65536 is not a port number (1 to 65535)"},
             Case{"info --ip 10.0.0.1 --port 80x",
                  "lanrove-cli info: --port: 80x is not a port number (1 to 65535)"},
             Case{"info --port 80", "lanrove-cli info: --ip is required"},
             Case{"info --ip 10.0.0.1 --user admin",
                  "lanrove-cli info: --user admin needs its password: give --password-file FILE, "
                  "set LANROVE_PASSWORD, or run on a terminal to be asked"},
             Case{"info --ip 10.0.0.1 --password-file pw.txt",
                  "lanrove-cli info: --password-file requires --user"},
             Case{"info --ip 10.0.0.1 --user admin --password x --password-file pw.txt",
                  "lanrove-cli info: --password excludes --password-file"},
             Case{"info --ip 10.0.0.1 --user admin --password-file /nonexistent/pw.txt",
                  "lanrove-cli info: --password-file: cannot read /nonexistent/pw.txt: No such "
                  "file or directory"},
             Case{"info --ip 10.0.0.1 --proto 3", ""},
             Case{"info --ip 10.0.0.1 --colour red", "lanrove-cli info: unknown option '--colour'"},
             Case{"info --ip 10.0.0.1 stray", "lanrove-cli info: unexpected argument 'stray'"},
             Case{"info --ip", ""},
             Case{"ping 10.0.0.256", "lanrove-cli ping: TARGET: 10.0.0.256 is not an IPv4 address"},
             Case{"ping", "lanrove-cli ping: TARGET is required"},
             Case{"ping 10.0.0.1 bad_name",
                  "lanrove-cli ping: TARGET: bad_name is not an IPv4 address or host name"},
             Case{"ping 10.0.0.1 --timeout -5", ""},
             Case{"adapters --json --all", "lanrove-cli adapters: unknown option '--all'"},
             Case{"version now", "lanrove-cli version: unexpected argument 'now'"},
             Case{"--colour", ""},
         }) {
        const CliRun r = runCliSplit(c.args);
        EXPECT_EQ(r.exitCode, 2) << c.args;
        EXPECT_TRUE(r.out.empty()) << c.args << ": " << r.out;
        // Exactly one line, naming the command.
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << c.args << ": " << r.err;
        EXPECT_EQ(r.err.rfind("lanrove-cli", 0), 0u) << c.args << ": " << r.err;
        if (*c.firstLine != 0) {
            EXPECT_EQ(r.firstErrLine(), c.firstLine) << c.args;
        }
    }
}

TEST(CliUsage, InfoJsonOnAnAddressThatCannotAnswer) {
    // 127.0.0.1 port 1 refuses at once on loopback: every step fails, the JSON is whole.
    const CliRun r = runCliSplit("info --ip 127.0.0.1 --port 1 --proto 2 --json");
    EXPECT_EQ(r.exitCode, 1) << r.err;
    const auto j = nlohmann::json::parse(r.out, nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << r.out;
    EXPECT_EQ(j["camera"], "http://127.0.0.1:1/");
    EXPECT_EQ(j["login"]["result"], "failed");
    EXPECT_EQ(j["codec"]["result"], "failed");
    ASSERT_EQ(j["status"].size(), 1u);
    EXPECT_EQ(j["status"][0]["protocol"], 2);
    EXPECT_FALSE(j["ok"].get<bool>());
}

TEST(CliProgress, DrawsInPlaceOnlyWhenEnabledAndClearsAtTheEnd) {
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    {
        lanrove::cli::TerminalProgress off(f, false, 80);
        off.show("search: eth0");
    }
    EXPECT_EQ(std::ftell(f), 0L);
    {
        lanrove::cli::TerminalProgress on(f, true, 13);
        on.show(lanrove::cli::searchProgressText("eth0, eth1", 2, 5, 27));
        on.show(lanrove::cli::searchProgressText("eth0, eth1", 2, 5, 27));  // same: not redrawn
    }
    std::rewind(f);
    char buf[256] = {};
    const std::size_t n = std::fread(buf, 1, sizeof(buf) - 1, f);
    std::fclose(f);
    // Cut to the width less one column, then cleared by the destructor.
    EXPECT_EQ(std::string(buf, n), "\rsearch: eth0\033[K\r\033[K");
    EXPECT_EQ(lanrove::cli::searchProgressText("eth1", 1, 1, 3),
              "search: eth1 (1 adapter), 1 camera so far, 3 s left");
}
