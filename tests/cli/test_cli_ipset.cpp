// lanrove-cli auto-set and set refuse bad input and a missing terminal before anything is
// sent. Each run happens in a network namespace of its own with no interface up, so even a
// mistake could not reach a network.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

struct RunResult {
    int exitCode = -1;
    std::string output;
};

class CliIpSet : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0 || std::system("unshare -n true >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "needs root to run the tool in a network namespace of its own";
        home = std::filesystem::temp_directory_path() /
               ("lanrove-cli-ipset-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(home);
    }
    void TearDown() override {
        if (!home.empty()) std::filesystem::remove_all(home);
    }
    RunResult run(const std::string& args) {
        const std::string command = "unshare -n " + std::string(LANROVE_BINARY_DIR) +
                                    "/src/lanrove-cli " + args + " --home " + home.string() +
                                    " </dev/null 2>&1";
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
    std::string eventLog() {
        std::string text;
        if (!std::filesystem::exists(home / "IPLog")) return text;
        for (const auto& f : std::filesystem::directory_iterator(home / "IPLog")) {
            std::ifstream in(f.path());
            std::stringstream ss;
            ss << in.rdbuf();
            text += ss.str();
        }
        return text;
    }
    std::filesystem::path home;
};

constexpr const char* kIllegalText = "Incorrect data entered.";

}  // namespace

TEST_F(CliIpSet, WithoutTerminalOrYesBothRefuse) {
    RunResult r = run("auto-set --from 192.168.0.20");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.output.find("no terminal to confirm on"), std::string::npos) << r.output;
    r = run("set --mac 00:1B:7C:00:01:02 --ip 192.168.0.31");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.output.find("no terminal to confirm on"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("search:"), std::string::npos) << "no search may run: " << r.output;
}

TEST_F(CliIpSet, AutoSetRangeTextsAreCheckedFirst) {
    RunResult r = run("auto-set --from 0.1.2.3 --yes");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.output.find("--from: " + std::string(kIllegalText)), std::string::npos) << r.output;
    EXPECT_NE(eventLog().find("The automatic setting is illegal"), std::string::npos);
    r = run("auto-set --from 192.168.0.20 --to 192.168.0.1000 --yes");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.output.find("--to: "), std::string::npos) << r.output;
    EXPECT_EQ(run("auto-set --yes").exitCode, 2);
    EXPECT_EQ(run("auto-set --from 192.168.0.20 --bogus --yes").exitCode, 2);
}

TEST_F(CliIpSet, SetFieldAndLoginRulesAreCheckedFirst) {
    // A well-formed address the setting dialog still refuses: the dialog's event line.
    RunResult r = run("set --mac 00:1B:7C:00:01:02 --ip 0.1.2.3 --yes");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.output.find("--ip: " + std::string(kIllegalText)), std::string::npos) << r.output;
    EXPECT_NE(eventLog().find("The manual setting is illegal"), std::string::npos);
    r = run("set --mac 00:1B:7C:00:01:02 --port 8a --yes");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.output.find("--port: 8a is not a port number"), std::string::npos) << r.output;
    EXPECT_EQ(run("set --mac 00:1B:7C:00:01:02 --port 65536 --yes").exitCode, 2);
    EXPECT_EQ(run("set --mac 00:1B:7C:00:01:02 --gateway 192.168.0 --yes").exitCode, 2);

    r = run("set --mac 00:1B:7C:00:01:02 --user abc --password secret9 --yes");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.output.find("--user: "), std::string::npos) << r.output;
    EXPECT_NE(eventLog().find("The log in setting is illegal"), std::string::npos);
    EXPECT_EQ(run("set --mac 00:1B:7C:00:01:02 --user owner --yes").exitCode, 2);
    EXPECT_EQ(run("set --mac 00:1B:7C:00:01:02 --ssl yes --yes").exitCode, 2);
    EXPECT_EQ(run("set --mac 00:1B:7C:00:01:02 --title 12345678901234567 --yes").exitCode, 2);
    EXPECT_EQ(run("set --mac 00-1B --yes").exitCode, 2);
}
