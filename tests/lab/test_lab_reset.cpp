// The factory reset as `lanrove-cli factory-reset` runs it on a simulated LAN, started under a
// maintenance-edition name: the cameras at the factory address get the command first, then
// the others, the settle wait runs only when a camera accepted, and the new search that
// follows lists every camera in its factory state, ready for the automatic setting.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>

#include "lab_harness.h"

using namespace lanrove::lab;
using nlohmann::json;

namespace {

// A link to the built tool under the maintenance edition's name.
std::string maintenanceCli(const Workspace& ws) {
    const std::string link = ws.path("lanrove-cli_FWTOOL");
    std::filesystem::create_symlink(cli(), link);
    return link;
}

constexpr double kScale = 0.05;
constexpr double kSettleSeconds = 60.0 * kScale;

}  // namespace

TEST(LabReset, FactoryAddressFirstThenTheRestSettleWaitThenEveryCameraIsNew) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", R"({
      "defaults": {"model": "KT-5200", "proto": 2, "mask": "255.255.255.0",
                   "gateway": "192.168.0.1"},
      "cameras": [
        {"mac": "00:1B:7C:00:08:01", "ip": "192.168.0.50", "title": "Yard",
         "accounts": {"admin": {"user": "site", "password": "secret"}}},
        {"mac": "00:1B:7C:00:08:02", "ip": "192.168.0.2", "factory": true},
        {"mac": "00:1B:7C:00:08:03", "ip": "192.168.0.60", "title": "Bay", "ssl": true,
         "port": 443},
        {"mac": "00:1B:7C:00:08:04", "ip": "192.168.0.2", "proto": 1}
      ]})");
    const std::string fw = maintenanceCli(ws);
    const std::string home = " --home " + ws.path("home");
    const Result r = runInLab(ws, {"--fleet", fleet, "--scale", std::to_string(kScale)},
                              "echo @@reset\n" + quote(fw) + " factory-reset --yes --json" + home +
                                  "\necho rc=$?\n"
                                  "echo @@auto\n"
                                  "$CLI auto-set --from 192.168.0.100 --yes --json" +
                                  home + "\necho rc=$?\necho @@end\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string resetText = section(r.out, "reset");
    EXPECT_NE(resetText.find("rc=0"), std::string::npos) << r.out << r.err;
    const json out = parseSection(r.out, "reset");

    // Pass 1: the factory address, in list order; pass 2: the others, in list order.
    const json& sent = out["cameras"];
    ASSERT_EQ(sent.size(), 4u) << out.dump(2);
    std::vector<int> firstPass;
    std::vector<int> secondPass;
    for (const auto& c : sent) {
        EXPECT_TRUE(c["accepted"].get<bool>()) << c;
        const int no = std::stoi(c["no"].get<std::string>());
        if (c["ip"] == "192.168.0.2") {
            EXPECT_TRUE(secondPass.empty()) << "factory-address camera after the others: " << c;
            EXPECT_EQ(c["pass"], 1);
            firstPass.push_back(no);
        } else {
            EXPECT_EQ(c["pass"], 2);
            secondPass.push_back(no);
        }
    }
    EXPECT_EQ(firstPass.size(), 2u);
    EXPECT_EQ(secondPass.size(), 2u);
    EXPECT_TRUE(std::is_sorted(firstPass.begin(), firstPass.end()));
    EXPECT_TRUE(std::is_sorted(secondPass.begin(), secondPass.end()));

    EXPECT_TRUE(out["settle_wait"].get<bool>());
    EXPECT_GE(out["seconds"].get<double>(), kSettleSeconds * 0.95);

    // The new search: every camera at the factory address, plain HTTP on port 80, NEW.
    const json& after = out["after"];
    ASSERT_EQ(after.size(), 4u) << out.dump(2);
    for (const auto& c : after) {
        EXPECT_EQ(c["ip"], "192.168.0.2") << c;
        EXPECT_EQ(c["status"], "NEW") << c;
        if (c["mac"] != "00:1B:7C:00:08:04") {  // a version-1 camera's search tells neither
            EXPECT_EQ(c["port"], "80") << c;
            EXPECT_EQ(c["title"], "") << c;
        }
    }

    // Factory state includes the account a NEW camera is set up with: the automatic setting
    // gives every camera an address, the one whose site account was changed too.
    EXPECT_NE(section(r.out, "auto").find("rc=0"), std::string::npos) << r.out;
    const json autoSet = parseSection(r.out, "auto");
    ASSERT_EQ(autoSet["cameras"].size(), 4u) << autoSet.dump(2);
    for (const auto& c : autoSet["cameras"]) EXPECT_TRUE(c["set"].get<bool>()) << c;
}

TEST(LabReset, NoCameraAcceptedMeansNoSettleWaitAndFailure) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", R"({
      "defaults": {"model": "KT-5200", "proto": 2},
      "cameras": [
        {"mac": "00:1B:7C:00:09:01", "ip": "192.168.0.70", "title": "Locked",
         "faults": ["http401"]}
      ]})");
    const std::string fw = maintenanceCli(ws);
    const Result r = runInLab(ws, {"--fleet", fleet, "--scale", std::to_string(kScale)},
                              "echo @@reset\n" + quote(fw) + " factory-reset --yes --json --home " +
                                  ws.path("home") + "\necho rc=$?\necho @@end\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(section(r.out, "reset").find("rc=1"), std::string::npos) << r.out << r.err;
    const json out = parseSection(r.out, "reset");
    ASSERT_EQ(out["cameras"].size(), 1u);
    EXPECT_FALSE(out["cameras"][0]["accepted"].get<bool>());
    EXPECT_FALSE(out["settle_wait"].get<bool>());
    // Retried for the 30000 ms send time-out, but no settle time on top of it.
    EXPECT_GE(out["seconds"].get<double>(), 30.0 * kScale * 0.95);
    EXPECT_LT(out["seconds"].get<double>(), 30.0 * kScale + kSettleSeconds * 0.9);
    // The new search still follows and finds the camera where it was.
    ASSERT_EQ(out["after"].size(), 1u);
    EXPECT_EQ(out["after"][0]["ip"], "192.168.0.70");
    EXPECT_EQ(out["after"][0]["title"], "Locked");
}
