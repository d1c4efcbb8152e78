// `lanrove-cli fw-update` against cameras that misbehave as real ones do, each fault planted in
// the simulator: a refused upload (403, and 500 without an error page), a camera that comes back
// with its old version, one whose image takes only on the restart command, a version-1 camera
// whose version cannot be read back, a camera that reads the image at 1 KiB/s, three cameras
// that read at 2 MiB/s, and Ctrl-C while a camera is in its retry. Each outcome is checked in
// the JSON output, the exit code and the changes journal.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <vector>

#include "lab_harness.h"

using namespace lanrove::lab;
using nlohmann::json;

namespace {

std::string simValue(const std::string& text, const std::string& key) {
    const std::size_t at = text.find(key + "=");
    if (at == std::string::npos) return {};
    const std::size_t from = at + key.size() + 1;
    return text.substr(from, text.find('\n', from) - from);
}

// The maintenance edition's program folder with the lab's firmware and a settings file;
// `bigImage` replaces the KT-5200 image by one of that many bytes.
std::string faultHome(const Workspace& ws, const std::string& settings, std::size_t bigImage = 0) {
    namespace fs = std::filesystem;
    const fs::path home = ws.path("home");
    fs::create_directories(home);
    fs::copy(sourceDir() + "/lab/firmware", home, fs::copy_options::recursive);
    fs::create_symlink(cli(), home / "lanrove-cli_fwtool");
    ws.write("home/lanrove-cli_fwtool.ini", "[Firmupload]\n" + settings);
    if (bigImage > 0) {
        std::ofstream out(home / "KT-5200" / "RM2125.BIN", std::ios::binary | std::ios::trunc);
        std::string block(65536, '\0');
        for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7);
        for (std::size_t left = bigImage; left > 0;) {
            const std::size_t n = std::min(left, block.size());
            out.write(block.data(), static_cast<std::streamsize>(n));
            left -= n;
        }
    }
    return home.string();
}

// Runs fw-update, then prints the trace log, the journal and each camera's simulator status.
std::string updateScript(const std::string& home, const std::vector<std::string>& ips) {
    std::string s = "FW=" + quote(home + "/lanrove-cli_fwtool") + "\nH=" + quote(home) +
                    "\necho @@up\n$FW fw-update --yes --json --home \"$H\"\necho rc=$?\n"
                    "echo @@log\ncat \"$H\"/IPLog/*\n"
                    "echo @@journal\ncat \"$H\"/changes.jsonl\n";
    for (const std::string& ip : ips)
        // A camera that was just told to restart answers again after its restart time.
        s += "echo @@sim" + ip +
             "\nfor i in $(seq 200); do o=$(curl -s -m 2 -u kelvo:730162 "
             "http://192.168.0." +
             ip +
             "/camsim/firmware); [ -n \"$o\" ] && break; sleep 0.05; "
             "done\necho \"$o\"\n";
    return s + "echo @@end\n";
}

// The journal's lines by MAC.
std::string kt5200(const std::string& mac, const std::string& ip, const std::string& faults) {
    return R"({"mac": ")" + mac + R"(", "ip": "192.168.0.)" + ip + R"(", "faults": [)" + faults +
           "]}";
}

std::string fleetOf(const std::vector<std::string>& cameras) {
    std::string list;
    for (const std::string& c : cameras) list += (list.empty() ? "" : ",\n    ") + c;
    return R"J({
  "defaults": {"model": "KT-5200", "proto": 2, "mask": "255.255.255.0", "firmware": "1.20",
               "restartTime": 60000, "writeTime": 10000, "announceTime": 10000,
               "versions": {"CAM MAIN Ver": "1.20(20100101)"}},
  "cameras": [
    )J" + list +
           "\n  ]\n}\n";
}

}  // namespace

TEST(LabFwFaults, RefusedUploadsAndAnOldVersionAreFailuresWithTheirStatus) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet =
        ws.write("fleet.json", fleetOf({kt5200("00:1B:7C:00:1A:01", "70", R"("firmstatus=403")"),
                                        kt5200("00:1B:7C:00:1A:02", "71", R"("firmstatus=500")"),
                                        kt5200("00:1B:7C:00:1A:03", "72", R"("oldversion")")}));
    const std::string home = faultHome(ws, "RetryCount=1\n");
    const Result r =
        runInLab(ws, {"--fleet", fleet, "--scale", "0.01"}, updateScript(home, {"70", "71", "72"}));
    const json up = parseSection(r.out, "up");
    EXPECT_NE(section(r.out, "up").find("rc=1"), std::string::npos) << r.err;
    auto cams = camerasByMac(up["cameras"]);
    const auto journal = journalByMac(section(r.out, "journal"));
    for (const auto& [mac, status] :
         std::map<std::string, int>{{"00:1B:7C:00:1A:01", 403}, {"00:1B:7C:00:1A:02", 500}}) {
        EXPECT_EQ(cams[mac]["result"], "failed") << mac;
        EXPECT_EQ(cams[mac]["refused"], true) << mac;
        EXPECT_EQ(cams[mac]["answerStatus"], status) << mac;
        EXPECT_EQ(cams[mac]["verified"], false) << mac;
        ASSERT_EQ(journal.count(mac), 1u) << section(r.out, "journal");
        EXPECT_EQ(journal.at(mac)["result"].get<std::string>().rfind(
                      "failed (refused, HTTP " + std::to_string(status), 0),
                  0u)
            << journal.at(mac).dump();
    }
    // The refusing cameras stored nothing; the old-version one took the image twice and still
    // showed its old version.
    EXPECT_EQ(simValue(section(r.out, "sim70"), "uploads"), "0");
    EXPECT_EQ(simValue(section(r.out, "sim71"), "uploads"), "0");
    EXPECT_EQ(simValue(section(r.out, "sim72"), "uploads"), "2");
    const json& old = cams["00:1B:7C:00:1A:03"];
    EXPECT_EQ(old["result"], "failed");
    EXPECT_EQ(old["refused"], false);
    EXPECT_EQ(old["versions"]["camMain"], "1.20(20100101)");
    EXPECT_EQ(journal.at("00:1B:7C:00:1A:03")["result"].get<std::string>().rfind("failed (", 0),
              0u);
    // The refusal is in the trace with its status, and the success path never followed it.
    const std::string log = section(r.out, "log");
    EXPECT_NE(log.find("Firmup Answer Status(403) Code(-)."), std::string::npos);
    EXPECT_NE(log.find("Firmup Refused Status(500)"), std::string::npos);
    EXPECT_EQ(log.find("Send EndWait Code(403)"), std::string::npos);
    EXPECT_EQ(log.find("Send EndWait Code(500)"), std::string::npos);
}

TEST(LabFwFaults, ImageThatTakesOnTheRestartCommandAndAnUnreadableVersionOneCamera) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write(
        "fleet.json", fleetOf({kt5200("00:1B:7C:00:1B:01", "70", R"("restartonly")"),
                               R"({"mac": "00:1B:7C:00:1B:02", "ip": "192.168.0.51", "proto": 1,
                     "model": "", "firmware": "1.00"})"}));
    const std::string home = faultHome(ws, "");
    const Result r =
        runInLab(ws, {"--fleet", fleet, "--scale", "0.01"}, updateScript(home, {"70", "51"}));
    const json up = parseSection(r.out, "up");
    EXPECT_NE(section(r.out, "up").find("rc=0"), std::string::npos) << r.err;
    auto cams = camerasByMac(up["cameras"]);
    const auto journal = journalByMac(section(r.out, "journal"));
    // Installed on the retry's restart command: completed, with one upload and the new version.
    const json& late = cams["00:1B:7C:00:1B:01"];
    EXPECT_EQ(late["result"], "completed") << r.err;
    EXPECT_EQ(late["verified"], true);
    EXPECT_EQ(late["retries"], 1);
    EXPECT_EQ(simValue(section(r.out, "sim70"), "uploads"), "1");
    EXPECT_NE(late["versions"]["camMain"].get<std::string>().rfind("125", 0), std::string::npos)
        << late.dump();
    EXPECT_EQ(journal.at("00:1B:7C:00:1B:01")["result"], "accepted");
    // The journal proves the update: the component's version with its date, before and after.
    const std::string before = journal.at("00:1B:7C:00:1B:01")["before"].get<std::string>();
    const std::string after = journal.at("00:1B:7C:00:1B:01")["after"].get<std::string>();
    EXPECT_EQ(before.rfind("CAM MAIN ", 0), 0u) << before;
    EXPECT_EQ(after.rfind("CAM MAIN 125(", 0), 0u) << after;
    EXPECT_NE(before, after);
    // The version-1 camera's image was accepted, but nothing can show that it took.
    const json& v1 = cams["00:1B:7C:00:1B:02"];
    EXPECT_EQ(v1["result"], "sent-not-verified") << r.err;
    EXPECT_EQ(v1["verified"], false);
    EXPECT_EQ(simValue(section(r.out, "sim51"), "uploads"), "1");
    ASSERT_EQ(journal.count("00:1B:7C:00:1B:02"), 1u) << section(r.out, "journal");
    EXPECT_EQ(journal.at("00:1B:7C:00:1B:02")["result"], "sent, not verified");
    EXPECT_EQ(journal.at("00:1B:7C:00:1B:02")["before"], "not read");
    EXPECT_EQ(journal.at("00:1B:7C:00:1B:02")["after"], "not read; sent RA20A1F3.BIN");
}

// 1 MiB at 1 KiB/s would take the camera 1024 s; a limit ends every attempt first (the
// transfer deadline of 616 s, or the no-progress limit when the kernel's buffers make the slow
// reader look silent), so the camera never holds a whole image. Which one the log names
// depends on the machine's load, so the outcome is checked, not the line.
TEST(LabFwFaults, CameraReadingOneKibPerSecondIsGivenUpBeforeItHoldsTheImage) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    // 1 MiB at 64 KiB/s plus the row's 600 s: 616 s; at 1 KiB/s the camera would need 1024 s.
    const std::string fleet =
        ws.write("fleet.json", fleetOf({kt5200("00:1B:7C:00:1C:01", "70", R"("readrate=1024")")}));
    const std::string home = faultHome(ws, "RetryCount=1\n", 1024 * 1024);
    const auto t0 = std::chrono::steady_clock::now();
    const Result r =
        runInLab(ws, {"--fleet", fleet, "--scale", "0.01"}, updateScript(home, {"70"}));
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const json up = parseSection(r.out, "up");
    const std::string log = section(r.out, "log");
    EXPECT_NE(section(r.out, "up").find("rc=1"), std::string::npos) << r.err;
    const json cam = up["cameras"][0];
    EXPECT_EQ(cam["result"], "failed") << log.substr(log.size() > 6000 ? log.size() - 6000 : 0);
    EXPECT_EQ(cam["verified"], false);
    // Never a whole image: without the deadline the camera would have taken it in 10 s.
    EXPECT_EQ(simValue(section(r.out, "sim70"), "uploads"), "0");
    EXPECT_EQ(journalByMac(section(r.out, "journal"))
                  .at("00:1B:7C:00:1C:01")["result"]
                  .get<std::string>()
                  .rfind("failed (", 0),
              0u);
    // Two attempts of at most 6.2 s each, not two of the 10 s the camera would have needed.
    EXPECT_LT(took, 120.0);
}

TEST(LabFwFaults, TwoCamerasReceiveAtATimeAndEachAnswerIsReadBeforeTheNextStarts) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    // 2 MiB/s of real time at a time scale of 0.05 (rates are in simulator time). 4 MiB takes
    // a camera two seconds, far longer than the scaled no-progress limit (1.5 s) after the PC
    // has handed the last byte to its connection.
    const std::string rate = R"("readrate=104858")";
    const std::string fleet = ws.write(
        "fleet.json",
        fleetOf({kt5200("00:1B:7C:00:1D:01", "70", rate), kt5200("00:1B:7C:00:1D:02", "71", rate),
                 kt5200("00:1B:7C:00:1D:03", "72", rate)}));
    const std::string home = faultHome(ws, "Instance=10\n", 4 * 1024 * 1024);
    const Result r =
        runInLab(ws, {"--fleet", fleet, "--scale", "0.05"}, updateScript(home, {"70", "71", "72"}));
    const json up = parseSection(r.out, "up");
    EXPECT_NE(section(r.out, "up").find("rc=0"), std::string::npos) << r.err;
    EXPECT_LE(up["peakTransfers"].get<int>(), 2);
    for (const auto& [mac, cam] : camerasByMac(up["cameras"])) {
        EXPECT_EQ(cam["result"], "completed") << mac << "\n" << r.err;
        EXPECT_EQ(cam["answerStatus"], 200) << mac;
    }
    // The simulator never had more than two uploads coming in at once.
    EXPECT_EQ(simValue(section(r.out, "sim70"), "peak_uploads"), "2") << section(r.out, "sim70");
    // Every upload's answer was read and logged.
    EXPECT_EQ(countOf(section(r.out, "log"), "Firmup Answer Status(200) Code(-)."), 3u);
}

TEST(LabFwFaults, CtrlCWhileACameraIsInItsRetryEndsItWithinSeconds) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet =
        ws.write("fleet.json", fleetOf({kt5200("00:1B:7C:00:1E:01", "70", R"("oldversion")")}));
    const std::string home = faultHome(ws, "RetryCount=3\n");
    const std::string err = ws.path("up.err");
    const Result r = runInLab(
        ws, {"--fleet", fleet, "--scale", "0.05"},
        "FW=" + quote(home + "/lanrove-cli_fwtool") + "\nH=" + quote(home) +
            "\necho @@up\n$FW fw-update --yes --json --home \"$H\" 2>" + quote(err) +
            " &\npid=$!\n"
            // The retry's restart has begun: the version check failed after the first upload.
            "for i in $(seq 3000); do grep -qs 'FirmUpload Version Error' \"$H\"/IPLog/* && "
            "break; sleep 0.02; done\nsleep 0.3\n"
            "t0=$(date +%s%N)\nkill -INT $pid\nwait $pid\necho rc=$?\n"
            "echo ms=$(( ($(date +%s%N) - t0) / 1000000 ))\n"
            "echo @@log\ncat \"$H\"/IPLog/*\n"
            "echo @@journal\ncat \"$H\"/changes.jsonl\n"
            "echo @@sim\nfor i in $(seq 200); do o=$(curl -s -m 2 -u kelvo:730162 "
            "http://192.168.0.70/camsim/firmware); [ -n \"$o\" ] && break; sleep 0.05; done\n"
            "echo \"$o\"\necho @@end\n");
    const std::string upText = section(r.out, "up");
    const json up = parseSection(r.out, "up");
    EXPECT_NE(upText.find("rc=130"), std::string::npos) << r.err << ws.read("up.err");
    EXPECT_TRUE(up["cancelled"].get<bool>());
    EXPECT_EQ(up["cameras"][0]["result"], "cancelled");
    // The retry's restart wait (40 s, 2 s here) was cut short and no second upload started.
    const std::size_t ms = upText.find("ms=");
    ASSERT_NE(ms, std::string::npos);
    EXPECT_LT(std::stol(upText.substr(ms + 3)), 10000) << upText;
    EXPECT_EQ(simValue(section(r.out, "sim"), "uploads"), "1");
    const std::string log = section(r.out, "log");
    EXPECT_EQ(log.find("FirmUpload Retry(1) Start."), std::string::npos);
    const auto journal = journalByMac(section(r.out, "journal"));
    ASSERT_EQ(journal.count("00:1B:7C:00:1E:01"), 1u) << section(r.out, "journal");
    EXPECT_EQ(
        journal.at("00:1B:7C:00:1E:01")["result"].get<std::string>().rfind("failed (cancelled", 0),
        0u);
}
