// lanrove-cli firmware: the files an update would take for a model, and one file's check.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "app/temp_dir.h"

using lanrove::test::TempDir;

namespace {

struct RunResult {
    int exitCode = -1;
    std::string output;
};

RunResult runCli(const std::string& args) {
    const std::string command =
        std::string(LANROVE_BINARY_DIR) + "/src/lanrove-cli " + args + " 2>/dev/null";
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

void put(const TempDir& home, const std::string& model, const std::string& name,
         std::string_view bytes) {
    std::filesystem::create_directories(home.path() / model);
    std::ofstream(home.path() / model / name, std::ios::binary) << bytes;
}

}  // namespace

TEST(CliFirmware, ListsEachComponentOfAModelWithTheFileChosen) {
    TempDir home;
    put(home, "KT-6500", "RP2NET20100301.BIN", "a");
    put(home, "KT-6500", "rp2net20100415.bin", "b");
    put(home, "KT-6500", "RP2CAMSUBX.BIN", "c");
    const RunResult r = runCli("firmware --model KT-6500 --json --home " + home.path().string());
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const auto json = nlohmann::json::parse(r.output);
    EXPECT_EQ(json["generation"], 2);
    EXPECT_EQ(json["method"], 2);
    ASSERT_EQ(json["components"].size(), 6u);
    const auto& net = json["components"][0];
    EXPECT_EQ(net["pattern"], "RP2NET????????.BIN");
    EXPECT_EQ(net["folder"], (home.path() / "KT-6500" / "").string());
    EXPECT_EQ(net["matches"], 2);
    EXPECT_EQ(net["file"], "rp2net20100415.bin");
    EXPECT_EQ(net["number"], 20100415);
    EXPECT_TRUE(json["components"][1]["file"].is_null());
    // Matching but without a number (not even hexadecimal): no file to upload.
    EXPECT_EQ(json["components"][5]["matches"], 1);
    EXPECT_TRUE(json["components"][5]["file"].is_null());
    EXPECT_EQ(json["usableFiles"], 1);

    const RunResult table = runCli("firmware --model KT-6500 --home " + home.path().string());
    EXPECT_EQ(table.exitCode, 0);
    EXPECT_NE(table.output.find("rp2net20100415.bin (20100415)"), std::string::npos)
        << table.output;
    EXPECT_NE(table.output.find("1 of 6 components have a file to upload"), std::string::npos);
}

TEST(CliFirmware, GenerationOneListsTheFourFolders) {
    TempDir home;
    put(home, "KT-7100P", "RA20A1F3.BIN", "x");
    const RunResult r = runCli("firmware --gen 1 --json --home " + home.path().string());
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const auto json = nlohmann::json::parse(r.output);
    ASSERT_EQ(json["components"].size(), 8u);
    EXPECT_EQ(json["components"][4]["file"], "RA20A1F3.BIN");
    EXPECT_EQ(json["components"][4]["number"], 41459);
    EXPECT_EQ(json["components"][4]["hexNumber"], true);
}

TEST(CliFirmware, UnknownModelsAndBadInput) {
    TempDir home;
    EXPECT_EQ(runCli("firmware --model KT-9999 --home " + home.path().string()).exitCode, 1);
    EXPECT_EQ(runCli("firmware").exitCode, 2);
    EXPECT_EQ(runCli("firmware --model KT-6500 --gen 3").exitCode, 2);
    EXPECT_EQ(runCli("firmware --model").exitCode, 2);
    EXPECT_EQ(runCli("firmware --file x --model KT-6500").exitCode, 2);
}

TEST(CliFirmware, ChecksThatOneFileIsReadable) {
    TempDir dir;
    const auto file = dir.write("RU2CAM20100415.BIN", std::string(12345, 'z'));
    RunResult r = runCli("firmware --file " + file.string());
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("readable, 12345 bytes"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("fits RU2CAM????????.BIN, for KT-8400, KT-8400P"), std::string::npos)
        << r.output;

    r = runCli("firmware --json --file " + dir.write("empty.bin", "").string());
    EXPECT_EQ(r.exitCode, 1);
    const auto json = nlohmann::json::parse(r.output);
    EXPECT_EQ(json["readable"], false);
    EXPECT_EQ(json["error"], "the file is empty");

    EXPECT_EQ(runCli("firmware --file " + (dir.path() / "missing.bin").string()).exitCode, 1);
    EXPECT_EQ(runCli("firmware --file " + dir.path().string()).exitCode, 1);
}
