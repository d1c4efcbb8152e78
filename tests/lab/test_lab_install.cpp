// The Debian package as a user meets it: built with cpack from this build, installed into a
// throw-away Debian root, `lanrove-cli version` and a search on a lab LAN run as an ordinary
// user, then removed again (tests/lab/install_check.sh does the root work).
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "lab_harness.h"

using namespace lanrove::lab;

namespace {

// "" when the package can be built and installed here, else the reason.
std::string installUnavailableReason() {
    if (!std::filesystem::exists(binaryDir() + "/CPackConfig.cmake"))
        return "no CPackConfig.cmake in the build folder";
    if (!std::filesystem::exists(binaryDir() + "/src/ui/lanrove-setup"))
        return "the desktop program is not built";
    for (const char* tool : {"cpack", "dpkg", "chroot", "useradd"}) {
        const Result r = runShell(std::string("command -v ") + tool + " >/dev/null", "/dev/null");
        if (r.exitCode != 0) return std::string("missing tool: ") + tool;
    }
    std::ifstream fs("/proc/filesystems");
    std::stringstream ss;
    ss << fs.rdbuf();
    if (ss.str().find("overlay") == std::string::npos) return "no overlay file system";
    return {};
}

}  // namespace

TEST(LabInstall, PackageInstallsRunsForAUserAndRemovesCleanly) {
    LANROVE_REQUIRE_LAB();
    if (const std::string why = installUnavailableReason(); !why.empty()) {
        if (std::getenv("CI") != nullptr) FAIL() << why;
        GTEST_SKIP() << why;
    }
    Workspace ws;
    const Result built =
        runShell("cpack -G DEB -B " + quote(ws.path("pkg")) + " --config " +
                     quote(binaryDir() + "/CPackConfig.cmake") + " >" + quote(ws.path("cpack.txt")),
                 ws.path("cpack-err.txt"));
    ASSERT_EQ(built.exitCode, 0) << ws.read("cpack.txt") << built.err;
    std::string deb;
    for (const auto& f : std::filesystem::directory_iterator(ws.path("pkg")))
        if (f.path().extension() == ".deb") deb = f.path().string();
    ASSERT_FALSE(deb.empty()) << ws.read("cpack.txt");

    const Result r =
        runShell(quote(sourceDir() + "/tests/lab/install_check.sh") + " " + quote(deb) + " " +
                     quote(labScript()) + " " + quote(camsim()) + " " +
                     quote(sourceDir() + "/lab/fleets/demo.json") + " " + quote(ws.path("check")),
                 ws.path("check-err.txt"));
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    ASSERT_NE(r.out.find("@@end"), std::string::npos) << r.out << r.err;

    const std::string files = section(r.out, "files");
    for (const char* f :
         {"/usr/bin/lanrove-setup", "/usr/bin/lanrove-cli", "/usr/bin/lanrove-setup_FWTOOL",
          "/usr/share/applications/lanrove-setup.desktop",
          "/usr/share/icons/hicolor/scalable/apps/lanrove-setup.svg",
          "/usr/share/metainfo/com.lanrove.setup.metainfo.xml",
          "/usr/share/man/man1/lanrove-cli.1.gz", "/usr/share/man/man1/lanrove-setup.1.gz",
          "/usr/share/bash-completion/completions/lanrove-cli"})
        EXPECT_NE(files.find(std::string("present ") + f), std::string::npos) << f << "\n" << files;
    EXPECT_NE(files.find("absent /usr/bin/lanrove-camsim"), std::string::npos) << files;
    EXPECT_NE(files.find("link lanrove-setup\n"), std::string::npos) << files;

    EXPECT_NE(section(r.out, "version").find("1.0.6.1"), std::string::npos) << r.out;
    // The installed program's folder is not the user's to write: their data folder is used.
    EXPECT_NE(section(r.out, "folder").find("/home/camuser/.local/share/lanrove-setup"),
              std::string::npos)
        << r.out;
    EXPECT_NE(section(r.out, "completion").find("search"), std::string::npos) << r.out;
    EXPECT_NE(section(r.out, "completion").find("--json"), std::string::npos) << r.out;

    const nlohmann::json found = nlohmann::json::parse(section(r.out, "search"), nullptr, false);
    ASSERT_FALSE(found.is_discarded()) << r.out << ws.read("check/search-err.txt");
    EXPECT_EQ(found["cameras"].size(), 12u);
    // The user may not flush the ARP cache: the log notes it and the search went on.
    const std::string logs = section(r.out, "logs");
    EXPECT_EQ(logs.find("flush notes 0"), std::string::npos) << logs;
    EXPECT_NE(logs.find("flush notes "), std::string::npos) << logs;

    EXPECT_EQ(section(r.out, "remove").find("left "), std::string::npos) << r.out;
    EXPECT_EQ(section(r.out, "remove").find("failed"), std::string::npos)
        << ws.read("check/dpkg-remove.txt");
}
