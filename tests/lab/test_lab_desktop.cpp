// The desktop program on a simulated LAN, without a display: one running copy per executable
// name (and a run without the guard when the lock file is unusable), the end after the address
// box on a PC without IPv4, and a whole search.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/lang_table.h"
#include "app/language.h"
#include "lab_harness.h"
#include "support/text.h"

using namespace lanrove::lab;

namespace {

std::string setupProgram() {
    return binaryDir() + "/src/ui/lanrove-setup";
}

#define LANROVE_REQUIRE_DESKTOP()                                                         \
    do {                                                                                  \
        LANROVE_REQUIRE_LAB();                                                            \
        if (!std::filesystem::exists(setupProgram())) GTEST_SKIP() << "no desktop build"; \
    } while (0)

// Shell lines every desktop script starts with: no display, a private lock folder.
std::string preamble(const Workspace& ws) {
    return "SETUP=" + quote(setupProgram()) + "\nW=" + quote(ws.path("")) +
           "\nexport QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=\"$W/run\"\n"
           "mkdir -p \"$W/run\" && chmod 700 \"$W/run\"\n"
           "unset LANROVE_HOME LANROVE_ANSWER_BOXES\n"
           "waitfor() { for _ in $(seq 400); do [ -e \"$1\" ] && return 0; sleep 0.05; done; "
           "return 1; }\n";
}

std::string logOf(const Workspace& ws, const std::string& home) {
    std::string all;
    const std::filesystem::path folder = std::filesystem::path(ws.path(home)) / "IPLog";
    if (!std::filesystem::exists(folder)) return all;
    for (const auto& f : std::filesystem::directory_iterator(folder))
        all += ws.read(home + "/IPLog/" + f.path().filename().string());
    return all;
}

std::string mainText(const char* section, const char* key) {
    lanrove::LangTable t;
    t.loadMain(lanrove::kLangIdEnglish, "/nonexistent/Language.ini");
    return t.text(section, key);
}

}  // namespace

TEST(LabDesktop, SecondStartOnlyWarnsWhileARenamedCopyRuns) {
    LANROVE_REQUIRE_DESKTOP();
    Workspace ws;
    const std::string script = preamble(ws) + R"(
"$SETUP" --home "$W/h1" --answer-boxes "$W/first.txt" --ready-file "$W/ready1" &
first=$!
waitfor "$W/ready1" || echo "first not ready"
echo "@@second"
"$SETUP" --home "$W/h2" --answer-boxes "$W/second.txt"
echo "rc=$?"
ln -s "$SETUP" "$W/lanrove-setup-copy"
echo "@@renamed"
"$W/lanrove-setup-copy" --home "$W/h3" --answer-boxes "$W/third.txt" --ready-file "$W/ready3" --quit-when-done
echo "rc=$?"
kill -TERM "$first"
wait "$first"
echo "@@first"
echo "rc=$?"
echo "@@end"
)";
    const Result r = runInLab(ws, {"--scale", "0.05"}, script);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.out.find("first not ready"), std::string::npos) << r.err;

    // The second start shows the warning and nothing else, and makes no log.
    EXPECT_EQ(section(r.out, "second"), "rc=0\n");
    EXPECT_EQ(ws.read("second.txt"),
              "warning\tLANROVE SETUP UTILITY\tLanrove Setup utility is already running.\u3000\n");
    EXPECT_FALSE(std::filesystem::exists(ws.path("h2/IPLog")));

    // A copy under another name runs beside the first.
    EXPECT_EQ(section(r.out, "renamed"), "rc=0\n");
    EXPECT_TRUE(std::filesystem::exists(ws.path("ready3")));
    EXPECT_FALSE(std::filesystem::exists(ws.path("third.txt")));
    EXPECT_NE(logOf(ws, "h3").find("-- Lanrove Set utility Start("), std::string::npos);

    // The first ends in order on the stop signal: its last trace line is there.
    EXPECT_EQ(section(r.out, "first"), "rc=0\n");
    EXPECT_FALSE(std::filesystem::exists(ws.path("first.txt")));
    const std::string firstLog = logOf(ws, "h1");
    EXPECT_NE(firstLog.find("-- Lanrove Set utility Start("), std::string::npos);
    EXPECT_NE(firstLog.find("-- Lanrove Set utility End("), std::string::npos);
}

TEST(LabDesktop, UnusableLockFileRunsUnguardedAndSaysSoInTheLog) {
    LANROVE_REQUIRE_DESKTOP();
    Workspace ws;
    const std::string script = preamble(ws) + R"(
mkdir "$W/run/lanrove-setup.lock"
"$SETUP" --home "$W/h" --answer-boxes "$W/boxes.txt" --quit-when-done 2>"$W/err.txt"
echo "rc=$?"
)";
    const Result r = runInLab(ws, {"--scale", "0.05"}, script);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "rc=0\n") << r.err;
    EXPECT_FALSE(std::filesystem::exists(ws.path("boxes.txt"))) << ws.read("boxes.txt");
    EXPECT_NE(ws.read("err.txt").find("running unguarded"), std::string::npos);
    const std::string log = logOf(ws, "h");
    const std::size_t line = log.find("[Lanrove] :Instance lock file unusable (");
    ASSERT_NE(line, std::string::npos) << log;
    EXPECT_NE(log.find("/run/lanrove-setup.lock): running without the guard.", line),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("-- Lanrove Set utility Start("), std::string::npos);
}

TEST(LabDesktop, PcWithoutAddressEndsAfterTheAddressBox) {
    LANROVE_REQUIRE_DESKTOP();
    Workspace ws;
    const std::string script = preamble(ws) + R"(
"$SETUP" --home "$W/h" --answer-boxes "$W/boxes.txt"
echo "rc=$?"
)";
    const Result r = runInLab(ws, {"--pc-addr", "none", "--gateway", "off"}, script);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "rc=1\n") << r.err;
    std::string expected = "error\tLANROVE SETUP UTILITY\t" + mainText("ERROR_WINDOW", "ERROR_IP");
    std::string escaped;
    for (char c : expected) escaped += c == '\n' ? std::string("\\n") : std::string(1, c);
    EXPECT_EQ(ws.read("boxes.txt"), escaped + "\n");
    const std::string log = logOf(ws, "h");
    EXPECT_NE(log.find("warn\tuser\t"), std::string::npos);
    EXPECT_NE(log.find("IP address is not set to NIC"), std::string::npos);
    EXPECT_EQ(log.find("Lanrove Set utility Start("), std::string::npos);
    EXPECT_NE(log.find("-- Lanrove Set utility End("), std::string::npos);
}

// Help is answered without a display (a headless site PC, an ssh session), before anything
// else: no log, no lock.
TEST(LabDesktop, HelpNeedsNoDisplay) {
    LANROVE_REQUIRE_DESKTOP();
    Workspace ws;
    const std::string script = preamble(ws) + R"(
unset QT_QPA_PLATFORM DISPLAY WAYLAND_DISPLAY
"$SETUP" --help --home "$W/h" > "$W/help.txt" 2> "$W/help.err"
echo "rc=$?"
)";
    const Result r = runInLab(ws, {"--scale", "0.05"}, script);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "rc=0\n") << ws.read("help.err");
    EXPECT_NE(ws.read("help.txt").find("--home"), std::string::npos) << ws.read("help.txt");
    EXPECT_FALSE(std::filesystem::exists(ws.path("h/IPLog")));
}

TEST(LabDesktop, SearchListsTheFleetAndStartsQuickly) {
    LANROVE_REQUIRE_DESKTOP();
    Workspace ws;
    const std::string script = preamble(ws) + R"(
"$SETUP" --home "$W/h" --answer-boxes "$W/boxes.txt" --auto-search --quit-when-done --startup-report 2>"$W/report.txt"
echo "rc=$?"
)";
    const Result r = runInLab(
        ws, {"--fleet", sourceDir() + "/lab/fleets/small.json", "--scale", "0.05"}, script);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "rc=0\n") << r.err;
    EXPECT_FALSE(std::filesystem::exists(ws.path("boxes.txt"))) << ws.read("boxes.txt");
    const std::string log = logOf(ws, "h");
    EXPECT_NE(log.find("Cam Search Set("), std::string::npos);
    EXPECT_NE(log.find("Find Write:4 Read:4"), std::string::npos) << log;
    EXPECT_NE(log.find("-- Lanrove Set utility End("), std::string::npos);
    const std::string report = ws.read("report.txt");
    EXPECT_NE(report.find("main window ready"), std::string::npos) << report;
    std::printf("%s", report.substr(report.find("lanrove-setup: main window")).c_str());
}
