// lanrove-cli info against simulated cameras served in-process on loopback addresses.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>

#include "cgi/sim_helpers.h"
#include "web_side.h"

using namespace lanrove;
using namespace lanrove::camsim;

namespace {

struct RunResult {
    int exitCode = -1;
    std::string output;
};

RunResult runCli(const std::string& args) {
    const std::string command =
        std::string(LANROVE_BINARY_DIR) + "/src/lanrove-cli " + args + " 2>&1";
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

std::string credentials(const SimCamera& c) {
    return " --user " + c.admin.user + " --password " + c.admin.password;
}

class CliInfo : public ::testing::Test {
  protected:
    TraceLog simLog;
    Fleet fleet;
    std::unique_ptr<WebSide> web;
    void TearDown() override {
        if (web) web->stop();
    }
    void start() {
        web = std::make_unique<WebSide>(fleet, simLog);
        ASSERT_TRUE(web->start());
    }
};

}  // namespace

TEST_F(CliInfo, VersionOneCameraShowsItsTitle) {
    fleet.cameras.push_back(lanrove::testing::simCamera("127.0.0.61", 1, "Front Door"));
    fleet.cameras.back().ssl = true;
    start();
    const SimCamera& c = fleet.cameras[0];
    const RunResult r = runCli("info --ip 127.0.0.61 --port " + std::to_string(c.port) +
                               " --ssl --proto 1" + credentials(c));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("camera: https://127.0.0.61:"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("login check: ok (0)"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("codec status: ok (0)"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("  title: Front Door\n"), std::string::npos) << r.output;
}

TEST_F(CliInfo, VersionTwoCameraShowsItsVersions) {
    fleet.cameras.push_back(lanrove::testing::simCamera("127.0.0.62", 2, "Yard"));
    fleet.cameras.back().versions = {{"CAM MAIN Ver", "1.20"}, {"NET MAIN Ver", "2.30"}};
    fleet.cameras.back().recStatus = 1;
    start();
    const SimCamera& c = fleet.cameras[0];
    const RunResult r =
        runCli("info --ip 127.0.0.62 --port " + std::to_string(c.port) + credentials(c));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("  CAM MAIN Ver: 1.20\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("  NET MAIN Ver: 2.30\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("  rec_status: 1\n"), std::string::npos) << r.output;
    // Without --proto both forms are asked for; the version 1 form finds the title too.
    EXPECT_NE(r.output.find("  title: Yard\n"), std::string::npos) << r.output;
}

TEST_F(CliInfo, RefusedLoginIsReportedWithItsCode) {
    fleet.cameras.push_back(lanrove::testing::simCamera("127.0.0.63", 1, "Locked"));
    start();
    const SimCamera& c = fleet.cameras[0];
    const RunResult r = runCli("info --ip 127.0.0.63 --port " + std::to_string(c.port) +
                               " --proto 1 --user admin --password wrong");
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find("login check: failed (400)"), std::string::npos) << r.output;
    // The status requests use the viewer account and still answer.
    EXPECT_NE(r.output.find("  title: Locked\n"), std::string::npos) << r.output;
    EXPECT_EQ(runCli("info --port 80").exitCode, 2);
}
