// The search, diagnostics, doctor, report and texts commands on the command line: their --help,
// and every malformed or contradictory input refused with one line and exit code 2 before
// anything is sent. The refusals run in a network namespace of their own with no way out, so
// that a fault letting one through could not broadcast on this machine's network.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "cli_run.h"

using lanrove::testing::CliRun;
using lanrove::testing::runCliSplit;

namespace {

// A fresh, empty network namespace for the one command (unprivileged users map themselves).
std::string isolated() {
    return ::geteuid() == 0 ? "unshare -n " : "unshare -rn ";
}

// A folder that a command which got as far as starting its core would fill (trace log).
class EmptyHome {
  public:
    EmptyHome() {
        char tmpl[] = "/tmp/lanrove-usage-home-XXXXXX";
        m_path = ::mkdtemp(tmpl) != nullptr ? tmpl : "";
    }
    ~EmptyHome() { std::filesystem::remove_all(m_path); }
    EmptyHome(const EmptyHome&) = delete;
    EmptyHome& operator=(const EmptyHome&) = delete;
    const std::string& path() const { return m_path; }
    bool untouched() const { return std::filesystem::is_empty(m_path); }

  private:
    std::string m_path;
};

}  // namespace

TEST(CliUsageSearch, HelpShowsTheOptionsAndExitCodes) {
    struct Case {
        const char* command;
        std::vector<const char*> texts;  // options and the command's own exit codes
    };
    const std::vector<Case> cases = {
        {"search",
         {"--json", "--csv", "--quiet", "--stats", "--home DIR", "1  no camera was found",
          "130  cancelled with Ctrl-C"}},
        {"discover",
         {"--adapter N", "--interface IF", "--codepage CP", "--trace DIR", "1  no such adapter"}},
        {"discover-set",
         {"--mac MAC", "--ip ADDRESS", "--mask MASK", "--gateway ADDRESS", "--proto 1|2",
          "--port PORT", "--ssl 0|1", "--schedule manual|auto", "--adapter N", "--yes",
          "--password-file FILE", "1  the camera did not accept the setting",
          "2  no terminal to confirm on without --yes"}},
        {"doctor",
         {"--json", "--quiet", "--interface IF", "--home DIR", "1  a finding of severity error",
          "130  cancelled with Ctrl-C"}},
        {"report",
         {"--out FILE", "--snapshots", "--interface IF", "1  the report could not be written",
          "130  cancelled with Ctrl-C"}},
        {"texts", {"--lang ja|en|zh", "--app", "--home DIR", "1  the output could not be written"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        const CliRun r = runCliSplit(std::string(c.command) + " --help", isolated());
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_TRUE(r.err.empty()) << r.err;
        EXPECT_NE(r.out.find(std::string("Usage: lanrove-cli ") + c.command + " "),
                  std::string::npos)
            << r.out;
        for (const char* text : c.texts) EXPECT_NE(r.out.find(text), std::string::npos) << text;
        EXPECT_NE(r.out.find("Exit codes:\n  0  success\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("  2  bad command line"), std::string::npos) << r.out;
    }
    // The defaults a script relies on are shown.
    const CliRun set = runCliSplit("discover-set --help", isolated());
    EXPECT_NE(set.out.find("--schedule manual|auto=manual"), std::string::npos) << set.out;
    EXPECT_NE(set.out.find("--proto 1|2=2"), std::string::npos) << set.out;
}

TEST(CliUsageSearch, MalformedInputIsOneLineAndNothingStarts) {
    EmptyHome home;
    const std::string h = " --home " + home.path();
    struct Case {
        std::string args;
        std::string firstLine;  // empty: only the shape is checked
    };
    const std::vector<Case> cases = {
        // search
        {"search --json --csv" + h, "lanrove-cli search: --json excludes --csv"},
        {"search --csv --json" + h, "lanrove-cli search: --json excludes --csv"},
        {"search --table" + h, "lanrove-cli search: unknown option '--table'"},
        {"search eth0" + h, "lanrove-cli search: unexpected argument 'eth0'"},
        {"search --home", "lanrove-cli search: --home: 1 required DIR missing"},
        // doctor
        {"doctor --json --verbose" + h, "lanrove-cli doctor: unknown option '--verbose'"},
        {"doctor --interface" + h, ""},
        // report
        {"report --out site.txt" + h,
         "lanrove-cli report: --out: site.txt must end in .html or .pdf"},
        {"report --out site.html.bak" + h,
         "lanrove-cli report: --out: site.html.bak must end in .html or .pdf"},
        {"report --snapshots" + h, "lanrove-cli report: --out is required"},
        {"report --out" + h, ""},
        // texts
        {"texts --lang fr" + h, ""},
        {"texts --lang" + h, ""},
        {"texts --verbose" + h, "lanrove-cli texts: unknown option '--verbose'"},
        {"texts extra" + h, "lanrove-cli texts: unexpected argument 'extra'"},
        // discover
        {"discover --adapter 1 --interface eth0",
         "lanrove-cli discover: --adapter excludes --interface"},
        {"discover --adapter x",
         "lanrove-cli discover: --adapter: x is not an adapter number (0 for the first)"},
        {"discover --adapter -1",
         "lanrove-cli discover: --adapter: -1 is not an adapter number (0 for the first)"},
        {"discover --codepage", ""},
        // discover-set
        {"discover-set --ip 192.168.0.50", "lanrove-cli discover-set: --mac is required"},
        {"discover-set --mac 00:80:45:00:00:01", "lanrove-cli discover-set: --ip is required"},
        {"discover-set --mac 00:80:45:00:00:01 --ip 999.1.1.1",
         "lanrove-cli discover-set: --ip: 999.1.1.1 is not an IPv4 address"},
        {"discover-set --mac 00:80:45:00:00 --ip 192.168.0.50",
         "lanrove-cli discover-set: --mac: 00:80:45:00:00 is not a MAC address such as "
         "00:1B:7C:00:01:02"},
        {"discover-set --mac 00:80:45:00:00:01 --ip 192.168.0.50 --mask 255.0.255.0",
         "lanrove-cli discover-set: --mask: 255.0.255.0 is not a subnet mask"},
        {"discover-set --mac 00:80:45:00:00:01 --ip 192.168.0.50 --gateway 192.168.0",
         "lanrove-cli discover-set: --gateway: 192.168.0 is not an IPv4 address"},
        {"discover-set --mac 00:80:45:00:00:01 --ip 192.168.0.50 --port 0",
         "lanrove-cli discover-set: --port: 0 is not a port number (1 to 65535)"},
        {"discover-set --mac 00:80:45:00:00:01 --ip 192.168.0.50 --proto 3", ""},
        {"discover-set --mac 00:80:45:00:00:01 --ip 192.168.0.50 --ssl on", ""},
        {"discover-set --mac 00:80:45:00:00:01 --ip 192.168.0.50 --schedule now", ""},
        {"discover-set --mac 00:80:45:00:00:01 --ip 192.168.0.50 --option 256", ""},
        {"discover-set --mac 00:80:45:00:00:01 --ip 192.168.0.50 --interface eth0 --adapter 0", ""},
        // A change with nobody to ask: refused before anything is sent.
        {"discover-set --mac 00:80:45:00:00:01 --ip 192.168.0.50",
         "lanrove-cli discover-set: no terminal to confirm on; give --yes to go ahead"},
        {"discover-set --mac 00:80:45:00:00:01 --ip 192.168.0.50 --user site --yes",
         "lanrove-cli discover-set: --user site needs its password: give --password-file FILE, "
         "set LANROVE_PASSWORD, or run on a terminal to be asked"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const CliRun r = runCliSplit(c.args, isolated());
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
        const std::string command = c.args.substr(0, c.args.find(' '));
        EXPECT_EQ(r.firstErrLine().rfind("lanrove-cli " + command + ": ", 0), 0u) << r.err;
        if (!c.firstLine.empty()) {
            EXPECT_EQ(r.firstErrLine(), c.firstLine);
        }
    }
    // Refused while parsing: no command got as far as starting its core and its trace log.
    EXPECT_TRUE(home.untouched());
}

TEST(CliUsageSearch, AnAdapterThatIsNotThereIsAUsageError) {
    // Only loopback exists in the namespace, and it carries no adapter for the search.
    EmptyHome home;
    const std::string report = home.path() + "/site.html";
    for (const std::string& command : {std::string("doctor"), "report --out " + report}) {
        SCOPED_TRACE(command);
        const CliRun r =
            runCliSplit(command + " --interface lr-none0 --home " + home.path(), isolated());
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(r.out.empty()) << r.out;
        const std::string name = command.substr(0, command.find(' '));
        EXPECT_EQ(r.err, "lanrove-cli " + name + ": no adapter named lr-none0\n");
    }
    EXPECT_FALSE(std::filesystem::exists(report));
}
