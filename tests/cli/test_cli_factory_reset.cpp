// lanrove-cli factory-reset exists only in the maintenance edition, which the name the tool is
// started under decides (a symlink's own name counts), and refuses to run without a terminal
// unless --yes. Each run happens in a network namespace of its own with no interface up.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

struct RunResult {
    int exitCode = -1;
    std::string output;
};

class CliFactoryReset : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0 || std::system("unshare -n true >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "needs root to run the tool in a network namespace of its own";
        dir = std::filesystem::temp_directory_path() /
              ("lanrove-cli-reset-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir / "home");
        // The maintenance edition under a lower-case marker, as a link to the built tool.
        std::filesystem::create_symlink(std::string(LANROVE_BINARY_DIR) + "/src/lanrove-cli",
                                        dir / "lanrove-cli_fwtool");
    }
    void TearDown() override {
        if (!dir.empty()) std::filesystem::remove_all(dir);
    }
    RunResult run(const std::string& program, const std::string& args) {
        const std::string command = "unshare -n " + program + " " + args + " --home " +
                                    (dir / "home").string() + " </dev/null 2>&1";
        RunResult result;
        FILE* pipe = ::popen(command.c_str(), "r");
        if (pipe == nullptr) return result;
        char buf[4096];
        std::size_t n = 0;
        while ((n = std::fread(buf, 1, sizeof(buf), pipe)) > 0) result.output.append(buf, n);
        const int status = ::pclose(pipe);
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return result;
    }
    std::string standard() const { return std::string(LANROVE_BINARY_DIR) + "/src/lanrove-cli"; }
    std::string maintenance() const { return (dir / "lanrove-cli_fwtool").string(); }

    std::filesystem::path dir;
};

}  // namespace

TEST_F(CliFactoryReset, StandardEditionRefusesAndDoesNotListIt) {
    RunResult r = run(standard(), "factory-reset --yes");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.output.find("maintenance edition"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("search:"), std::string::npos) << "no search may run: " << r.output;
    r = run(standard(), "--help");
    EXPECT_EQ(r.output.find("factory-reset"), std::string::npos) << r.output;
    r = run(maintenance(), "--help");
    EXPECT_NE(r.output.find("factory-reset"), std::string::npos) << r.output;
}

TEST_F(CliFactoryReset, WithoutTerminalOrYesItRefusesBeforeSearching) {
    RunResult r = run(maintenance(), "factory-reset");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.output.find("no terminal to confirm on"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("search:"), std::string::npos) << "no search may run: " << r.output;
    r = run(maintenance(), "factory-reset --yes --colour");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.output.find("lanrove-cli factory-reset: unknown option '--colour'"),
              std::string::npos)
        << r.output;
}

TEST_F(CliFactoryReset, NoCameraFoundMeansNothingToReset) {
    const RunResult r = run(maintenance(), "factory-reset --yes");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("search: 0 cameras"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("nothing reset"), std::string::npos) << r.output;
}
