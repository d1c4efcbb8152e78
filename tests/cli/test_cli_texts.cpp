#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/temp_dir.h"

namespace {

std::string quoted(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string slurp(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

struct CliRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs lanrove-cli with `locale` as the only locale variable and `args` appended.
CliRun runCli(const lanrove::test::TempDir& work, const std::string& locale,
              const std::string& args) {
    const std::string cli = std::string(LANROVE_BINARY_DIR) + "/src/lanrove-cli";
    const auto out = work.path() / "stdout.txt";
    const auto err = work.path() / "stderr.txt";
    const std::string cmd = "env -u LANROVE_HOME -u LC_ALL -u LC_MESSAGES -u LANG " + locale + " " +
                            quoted(cli) + " texts " + args + " >" + quoted(out.string()) + " 2>" +
                            quoted(err.string());
    const int status = std::system(cmd.c_str());
    CliRun r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = slurp(out);
    r.err = slurp(err);
    return r;
}

}  // namespace

TEST(CliTexts, PrintsTheTableWithLanguageIniOverrides) {
    lanrove::test::TempDir home;
    home.write("Language.ini",
               "[ERROR_WINDOW]\r\nERROR_IP=Two\\nlines\r\n[MAIN_WINDOW]\r\nmain_title=Mine\r\n");
    const std::string homeArg = "--home " + quoted(home.path().string());

    const CliRun en = runCli(home, "LC_ALL=ja_JP.UTF-8", "--lang en " + homeArg);
    ASSERT_EQ(en.exitCode, 0) << en.err;
    EXPECT_EQ(en.err, "");
    const auto lines = linesOf(en.out);
    ASSERT_EQ(lines.size(), 102u);
    EXPECT_EQ(lines.front(), "MAIN_WINDOW/MAIN_TITLE\tMine");
    EXPECT_EQ(lines.back(), "ERROR_WINDOW/ERROR_OK\tOK");
    EXPECT_NE(en.out.find("\nERROR_WINDOW/ERROR_IP\tTwo\\nlines\n"), std::string::npos);
    EXPECT_NE(en.out.find("\nRESET_SETTING_WINDOW/SLEEP_MSG\tIn progress...\\nPlease wait.\n"),
              std::string::npos);
    EXPECT_EQ(en.out.find("NULL"), std::string::npos);

    // Without --lang the locale decides; Japanese has no splash title in the main table.
    const CliRun ja = runCli(home, "LANG=ja_JP.UTF-8", homeArg);
    ASSERT_EQ(ja.exitCode, 0) << ja.err;
    EXPECT_EQ(linesOf(ja.out).size(), 101u);
    EXPECT_EQ(ja.out.find("LOGO_WINDOW/SUB_TITLE"), std::string::npos);

    const CliRun zhApp = runCli(home, "LC_MESSAGES=zh_CN.UTF-8", "--app " + homeArg);
    ASSERT_EQ(zhApp.exitCode, 0) << zhApp.err;
    EXPECT_EQ(zhApp.out,
              "APP_WINDOW/ERROR_TITLE\tLANROVE SETUP UTILITY\n"
              "APP_WINDOW/MULTISTART_WARNING\tLanrove Setup utility "
              "\xE5\xB7\xB2\xE7\xBB\x8F\xE5\x90\xAF\xE5\x8A\xA8\xE3\x80\x82\n"
              "LOGO_WINDOW/SUB_TITLE\tLanrove Setup utility\n");
}

TEST(CliTexts, BadOptionsGiveUsageAndExitTwo) {
    lanrove::test::TempDir home;
    for (const char* args : {"--lang fr", "--lang", "--home", "--verbose", "extra"}) {
        SCOPED_TRACE(args);
        const CliRun r = runCli(home, "LC_ALL=C", args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(r.out, "");
        // One line naming the command and what was wrong.
        EXPECT_EQ(r.err.rfind("lanrove-cli texts: ", 0), 0u) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    }
}

TEST(CliTexts, AddedTextsFollowTheLanguageAndTheirOverrides) {
    lanrove::test::TempDir home;
    home.write("Language.ini", "[DOCTOR_WINDOW]\r\nDIAGNOSE_ALL=Check them all\r\n");
    const std::string homeArg = "--home " + quoted(home.path().string());
    const CliRun ja = runCli(home, "LANG=C", "--added --lang ja " + homeArg);
    ASSERT_EQ(ja.exitCode, 0) << ja.err;
    EXPECT_NE(ja.out.find("\nDOCTOR_WINDOW/DIAGNOSE\t\xE8\xA8\xBA\xE6\x96\xAD\n"),
              std::string::npos)
        << ja.out;
    EXPECT_NE(ja.out.find("\nDOCTOR_WINDOW/DIAGNOSE_ALL\tCheck them all\n"), std::string::npos);
    // The doctor's findings are listed with their value marks.
    EXPECT_NE(
        ja.out.find("\nDOCTOR_FINDINGS/CAMERA_HTTP_CLOSED\t%1 への TCP 接続が拒否されました\n"),
        std::string::npos);
    // The main table's entries are not in this list.
    EXPECT_EQ(ja.out.find("MAIN_WINDOW/"), std::string::npos);
}
