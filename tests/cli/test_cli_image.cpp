// lanrove-cli image against simulated cameras served in-process on loopback addresses: the
// saved files are the pictures without the information block, numbered with --count, and the
// exit codes tell a camera that sent no picture from bad input.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <nlohmann/json.hpp>

#include "cgi/live_image.h"
#include "cgi/sim_helpers.h"
#include "web_image.h"
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
        std::string(LANROVE_BINARY_DIR) + "/src/lanrove-cli image " + args + " 2>&1";
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

std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class CliImage : public ::testing::Test {
  protected:
    ~CliImage() override {
        if (web) web->stop();
    }
    SimCamera& add(const std::string& ip) {
        fleet.cameras.push_back(lanrove::testing::simCamera(ip, 2, "Pic"));
        return fleet.cameras.back();
    }
    void start() {
        web = std::make_unique<WebSide>(fleet, simLog, defaultClock());
        ASSERT_TRUE(web->start());
    }
    std::string target(std::size_t i) const {
        return "--ip " + fleet.cameras[i].ip + " --port " + std::to_string(fleet.cameras[i].port);
    }

    TraceLog simLog;
    Fleet fleet;
    std::unique_ptr<WebSide> web;
    lanrove::testing::TempDir dir;
};

TEST_F(CliImage, SavesThePictureWithoutItsTrailer) {
    add("127.0.0.121").aspectRatio = 1;
    start();
    const std::string out = (dir.path / "shot.jpg").string();
    const RunResult r = runCli(target(0) + " --out " + out);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("320 x 180, 16:9 yes"), std::string::npos) << r.output;
    const std::string saved = readFile(out);
    EXPECT_EQ(saved.substr(saved.size() - 2), "\xFF\xD9");
    int w = 0;
    int h = 0;
    ASSERT_TRUE(JpegFrameSize(saved, w, h));
    EXPECT_EQ(w, kImageWidth);
    EXPECT_EQ(h, kImageWideHeight);
    // The file tool reads it as a JPEG of that size too.
    FILE* p = ::popen(("file -b " + out).c_str(), "r");
    ASSERT_NE(p, nullptr);
    char buf[512] = {};
    const std::size_t n = std::fread(buf, 1, sizeof buf - 1, p);
    ::pclose(p);
    const std::string kind(buf, n);
    EXPECT_NE(kind.find("JPEG image data"), std::string::npos) << kind;
    EXPECT_NE(kind.find("320x180"), std::string::npos) << kind;
}

TEST_F(CliImage, CountSavesNumberedDifferentPicturesAndJsonTellsTheSize) {
    add("127.0.0.122").faults.insert("notrailer");
    start();
    const std::string out = (dir.path / "cam.jpg").string();
    const RunResult r = runCli(target(0) + " --out " + out + " --count 2 --json");
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const nlohmann::json j = nlohmann::json::parse(r.output, nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << r.output;
    ASSERT_EQ(j["pictures"].size(), 2u);
    EXPECT_EQ(j["pictures"][0]["file"], (dir.path / "cam-1.jpg").string());
    EXPECT_EQ(j["pictures"][1]["file"], (dir.path / "cam-2.jpg").string());
    EXPECT_EQ(j["pictures"][0]["width"], kImageWidth);
    EXPECT_EQ(j["pictures"][0]["height"], kImageHeight);
    EXPECT_EQ(j["pictures"][0]["wide"], false);
    EXPECT_EQ(j["pictures"][0]["trailerBytes"], 0);
    EXPECT_NE(readFile(dir.path / "cam-1.jpg"), readFile(dir.path / "cam-2.jpg"));
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(CliImage, NoPictureIsExitOne) {
    add("127.0.0.123").faults.insert("imagetype");
    add("127.0.0.124").faults.insert("imageshort");
    start();
    for (std::size_t i = 0; i < 2; ++i) {
        const std::string out = (dir.path / ("none" + std::to_string(i) + ".jpg")).string();
        const RunResult r = runCli(target(i) + " --out " + out);
        EXPECT_EQ(r.exitCode, 1) << r.output;
        EXPECT_FALSE(std::filesystem::exists(out));
    }
    // Nobody at the address.
    const int port = lanrove::testing::freePort("127.0.0.125");
    const RunResult r = runCli("--ip 127.0.0.125 --port " + std::to_string(port) + " --out " +
                               (dir.path / "x.jpg").string());
    EXPECT_EQ(r.exitCode, 1) << r.output;
}

TEST(CliImageInput, BadInputIsExitTwo) {
    for (const char* args :
         {"", "--ip 127.0.0.1", "--out x.jpg", "--ip 127.0.0.1 --out x.jpg --count 0",
          "--ip 127.0.0.1 --out x.jpg --port 70000", "--ip 127.0.0.1 --out x.jpg --user a",
          "--ip 127.0.0.1 --out x.jpg --bogus", "--ip https://127.0.0.1 --out x.jpg"}) {
        EXPECT_EQ(runCli(args).exitCode, 2) << args;
    }
}

}  // namespace
