// Firmware uploads on a simulated LAN, driven by lanrove-upload-driver as the upload worker
// runs them: a 32 MiB image that must arrive unchanged, the restart waits of both methods, a
// camera that never comes back and one that drops the connection half-way.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "lab_harness.h"

using namespace lanrove::lab;
using nlohmann::json;

namespace {

std::string driver() {
    return binaryDir() + "/tests/lanrove-upload-driver";
}

json driverResult(const std::string& out, const std::string& name) {
    const std::string text = section(out, name);
    const json j = json::parse(text.substr(0, text.rfind('}') + 1), nullptr, false);
    EXPECT_FALSE(j.is_discarded()) << name << ":\n" << out;
    return j;
}

// A line "key=value" of the simulator's firmware status text.
std::string statusValue(const std::string& text, const std::string& key) {
    const std::size_t at = text.find(key + "=");
    if (at == std::string::npos) return {};
    const std::size_t from = at + key.size() + 1;
    return text.substr(from, text.find('\n', from) - from);
}

const char* kFleet = R"({
  "defaults": {"model": "KT-5200", "mask": "255.255.255.0", "firmware": "100",
               "restartTime": 60000, "writeTime": 10000, "announceTime": 20000},
  "cameras": [
    {"mac": "00:1B:7C:00:0F:01", "ip": "192.168.0.50", "proto": 2},
    {"mac": "00:1B:7C:00:0F:02", "ip": "192.168.0.51", "proto": 1},
    {"mac": "00:1B:7C:00:0F:03", "ip": "192.168.0.52", "proto": 1, "faults": ["nocomeback"]},
    {"mac": "00:1B:7C:00:0F:04", "ip": "192.168.0.53", "proto": 2, "faults": ["firmcut"]},
    {"mac": "00:1B:7C:00:0F:05", "ip": "192.168.0.54", "proto": 2, "faults": ["firmrefuse"]}
  ]})";

}  // namespace

TEST(LabFirmware, LargeImageArrivesWholeAndVersionTwoWaitSucceeds) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", kFleet);
    const std::string image = ws.path("RM20123.BIN");
    const Result r =
        runInLab(ws, {"--fleet", fleet, "--scale", "0.01"},
                 "head -c 33554432 /dev/urandom > " + quote(image) + "\n" + "echo @@up\n" +
                     quote(driver()) + " --ip 192.168.0.50 --file " + quote(image) +
                     " --wait 2 --reboot-ms 300000 --timeout-ms 600000\n"
                     "echo @@sim\ncurl -s -u kelvo:730162 http://192.168.0.50/camsim/firmware\n"
                     "echo @@sum\nsha256sum " +
                     quote(image) + "\necho @@end\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json up = driverResult(r.out, "up");
    EXPECT_EQ(up["send"], 0) << up;
    EXPECT_EQ(up["http"], 200);
    EXPECT_EQ(up["check"], 0);
    EXPECT_EQ(up["wait"], 0) << "version-2 restart wait";
    // The counters reach the body's size, and another thread saw them move on the way.
    EXPECT_EQ(up["sent"], up["total"]);
    EXPECT_GT(up["total"].get<std::uint64_t>(), 33554432u);
    EXPECT_GT(up["samples"].get<int>(), 2);
    EXPECT_EQ(up["status"], 4104);
    const std::string sim = section(r.out, "sim");
    EXPECT_EQ(statusValue(sim, "bytes"), "33554432") << sim;
    const std::string sum = section(r.out, "sum");
    EXPECT_EQ(statusValue(sim, "sha256"), sum.substr(0, sum.find(' '))) << sim;
    EXPECT_EQ(statusValue(sim, "version"), "123") << "back with the version of the file name";
}

TEST(LabFirmware, VersionOneWaitSucceedsAndANeverReturningCameraFailsAtTheTimeOut) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", kFleet);
    const std::string image = ws.path("RA20A1F3.BIN");
    // Upload time-out 600000 ms: 6 s at this scale.
    const std::string run =
        " --file " + quote(image) + " --wait 1 --reboot-ms 140000 --timeout-ms 600000\n";
    const Result r =
        runInLab(ws, {"--fleet", fleet, "--scale", "0.01"},
                 "head -c 300000 /dev/urandom > " + quote(image) + "\n" + "echo @@v1\n" +
                     quote(driver()) + " --ip 192.168.0.51" + run +
                     "echo @@sim\ncurl -s -u kelvo:730162 http://192.168.0.51/camsim/firmware\n"
                     "echo @@gone\n" +
                     quote(driver()) + " --ip 192.168.0.52" + run + "echo @@end\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json v1 = driverResult(r.out, "v1");
    EXPECT_EQ(v1["send"], 0) << v1;
    EXPECT_EQ(v1["wait"], 0) << "version-1 restart wait";
    EXPECT_EQ(statusValue(section(r.out, "sim"), "version"), "41459");

    const json gone = driverResult(r.out, "gone");
    EXPECT_EQ(gone["send"], 0) << gone;
    EXPECT_NE(gone["wait"], 0) << gone;
    // It ends at the scaled upload time-out (6 s after the wait began, which follows the
    // 5 s and 30 s pauses after sending: 0.35 s), not before and not much later.
    EXPECT_GE(gone["seconds"].get<double>(), 6.0) << gone;
    EXPECT_LT(gone["seconds"].get<double>(), 12.0) << gone;
}

TEST(LabFirmware, HalfWayCloseAndRefusalAreFailures) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", kFleet);
    const std::string image = ws.path("RM20200.BIN");
    const Result r = runInLab(
        ws, {"--fleet", fleet, "--scale", "0.01"},
        "head -c 33554432 /dev/urandom > " + quote(image) + "\n" + "echo @@cut\n" +
            quote(driver()) + " --ip 192.168.0.53 --file " + quote(image) + " --wait 2\n" +
            "echo @@refuse\n" + quote(driver()) + " --ip 192.168.0.54 --file " + quote(image) +
            " --wait 2\necho @@sim\n"
            "curl -s -u kelvo:730162 http://192.168.0.54/camsim/firmware\necho @@end\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json cut = driverResult(r.out, "cut");
    EXPECT_EQ(cut["post"], 0) << cut;
    EXPECT_EQ(cut["send"], 408) << "a dropped connection is a failed piece, not success";
    EXPECT_LT(cut["sent"].get<std::uint64_t>(), cut["total"].get<std::uint64_t>());
    EXPECT_EQ(cut["status"], 4100) << "never marked as sent";

    const json refuse = driverResult(r.out, "refuse");
    EXPECT_EQ(refuse["send"], 0) << refuse;
    EXPECT_EQ(refuse["check"], -2) << "the error page's code";
    EXPECT_EQ(refuse["wait"], -1) << "no restart wait after a refusal";
    EXPECT_EQ(statusValue(section(r.out, "sim"), "uploads"), "0");
}
