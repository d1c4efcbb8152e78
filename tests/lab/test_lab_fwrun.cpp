// The F/W check and the firmware update as `lanrove-cli fw-check` and `fw-update` run them on a
// simulated LAN with three camera models and the lab's firmware folders: the check's three
// outcomes, at most two transfers at once, one slot strictly in turn, a latest component left
// alone, Cancel while a camera waits, a camera that never comes back, and a wide camera's
// recording settings restored after its update.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <vector>

#include "lab_harness.h"

using namespace lanrove::lab;
using nlohmann::json;

namespace {

std::string statusValue(const std::string& text, const std::string& key) {
    const std::size_t at = text.find(key + "=");
    if (at == std::string::npos) return {};
    const std::size_t from = at + key.size() + 1;
    return text.substr(from, text.find('\n', from) - from);
}

// The program folder of the maintenance edition: the lab's firmware folders, the tool under
// a name with the edition marker, and its settings file.
std::string prepareHome(const Workspace& ws, const std::string& settings = "") {
    namespace fs = std::filesystem;
    const fs::path home = ws.path("home");
    fs::create_directories(home);
    fs::copy(sourceDir() + "/lab/firmware", home, fs::copy_options::recursive);
    fs::create_symlink(cli(), home / "lanrove-cli_fwtool");
    if (!settings.empty()) ws.write("home/lanrove-cli_fwtool.ini", "[Firmupload]\n" + settings);
    return home.string();
}

// "FW=<tool>; H=<home>" for the scripts.
std::string toolLines(const std::string& home) {
    return "FW=" + quote(home + "/lanrove-cli_fwtool") + "\nH=" + quote(home) + "\n";
}

// The progress lines of fw-update, in order: (MAC, state).
std::vector<std::pair<std::string, std::string>> progress(const std::string& err) {
    std::vector<std::pair<std::string, std::string>> out;
    std::istringstream in(err);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("fw-update: ", 0) != 0) continue;
        std::istringstream words(line.substr(11));
        std::string no, mac, state;
        if (words >> no >> mac >> state) out.emplace_back(mac, state);
    }
    return out;
}

const char* kThreeCameras = R"json({
  "defaults": {"model": "KT-5200", "proto": 2, "mask": "255.255.255.0", "firmware": "1.20",
               "restartTime": 60000, "writeTime": 10000, "announceTime": 10000,
               "versions": {"CAM MAIN Ver": "1.20(20100101)"
}
}
, "cameras" : [
    {"mac" : "00:1B:7C:00:0A:01", "ip" : "192.168.0.70", "title" : "One"},
    {"mac" : "00:1B:7C:00:0A:02", "ip" : "192.168.0.71", "title" : "Two"},
    {"mac" : "00:1B:7C:00:0A:03", "ip" : "192.168.0.72", "title" : "Three"}
]
})json";

}  // namespace

TEST(LabFwRun, CheckMarksLatestUpdateReadyAndNoFirmware) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string home = prepareHome(ws);
    const Result r =
        runInLab(ws, {"--fleet", sourceDir() + "/lab/fleets/site.json", "--scale", "0.01"},
                 toolLines(home) +
                     "echo @@check\n$FW fw-check --json --home \"$H\"\n"
                     "echo rc=$?\necho @@end\n");
    const json check = parseSection(r.out, "check");
    EXPECT_NE(section(r.out, "check").find("rc=0"), std::string::npos) << r.err;
    auto cams = camerasByMac(check["cameras"]);
    ASSERT_EQ(cams.size(), 7u) << r.out;
    EXPECT_EQ(cams["00:1B:7C:00:02:01"]["status"], "update-ready");  // CAM older, NET latest
    EXPECT_EQ(cams["00:1B:7C:00:02:01"]["file"].get<std::string>().find("RP2CAM20100501.BIN") !=
                  std::string::npos,
              true);
    EXPECT_EQ(cams["00:1B:7C:00:02:02"]["status"], "update-ready");
    EXPECT_NE(cams["00:1B:7C:00:02:02"]["file"].get<std::string>().find("RP2NET20100415.BIN"),
              std::string::npos);
    EXPECT_EQ(cams["00:1B:7C:00:02:03"]["status"], "latest");
    EXPECT_EQ(cams["00:1B:7C:00:02:05"]["status"], "update-ready");  // 1.20 against RM2125
    EXPECT_EQ(cams["00:1B:7C:00:02:06"]["status"], "latest");        // 1.25
    EXPECT_EQ(cams["00:1B:7C:00:02:07"]["status"], "no-firmware");   // no files for KW-6300
    EXPECT_TRUE(cams["00:1B:7C:00:02:07"]["file"].is_null());
    EXPECT_TRUE(check["updateReady"].get<bool>());
    // The check made the model folder a technician fills.
    EXPECT_TRUE(std::filesystem::is_directory(home + "/KW-6300"));
}

TEST(LabFwRun, TenSlotsAndThreeCamerasTransferTwoAtATime) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", kThreeCameras);
    const std::string home = prepareHome(ws, "Instance=10\n");
    const Result r = runInLab(ws, {"--fleet", fleet, "--scale", "0.02"},
                              toolLines(home) +
                                  "echo @@up\n$FW fw-update --yes --json --home \"$H\"\n"
                                  "echo rc=$?\necho @@end\n");
    const json up = parseSection(r.out, "up");
    EXPECT_NE(section(r.out, "up").find("rc=0"), std::string::npos) << r.err;
    EXPECT_EQ(up["peakTransfers"], 2) << r.err;
    for (const auto& [mac, cam] : camerasByMac(up["cameras"])) {
        EXPECT_EQ(cam["result"], "completed") << mac;
        EXPECT_EQ(cam["sentBytes"], cam["totalBytes"]) << mac;
    }
    // While two cameras held the permission, the third waited for it.
    const auto lines = progress(r.err);
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const auto& l) {
        return l.second == "waiting";
    })) << r.err;
}

TEST(LabFwRun, OneSlotUpdatesTheCamerasOneAfterAnother) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", kThreeCameras);
    const std::string home = prepareHome(ws, "Instance=1\n");
    const Result r = runInLab(ws, {"--fleet", fleet, "--scale", "0.01"},
                              toolLines(home) +
                                  "echo @@up\n$FW fw-update --yes --json --home \"$H\"\n"
                                  "echo rc=$?\necho @@end\n");
    const json up = parseSection(r.out, "up");
    EXPECT_NE(section(r.out, "up").find("rc=0"), std::string::npos) << r.err;
    EXPECT_EQ(up["peakTransfers"], 1);
    // A camera starts sending only after the one before it has completed.
    const auto lines = progress(r.err);
    std::string current;
    int completed = 0;
    for (const auto& [mac, state] : lines) {
        if (state == "sending") {
            EXPECT_TRUE(current.empty() || current == mac) << mac << " while " << current;
            current = mac;
        } else if (state == "completed") {
            EXPECT_EQ(current, mac);
            current.clear();
            ++completed;
        }
    }
    EXPECT_EQ(completed, 3) << r.err;
}

TEST(LabFwRun, LatestNetComponentIsLeftAloneAndOnlyCamIsUploaded) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", R"json({
      "defaults": {"proto": 2, "mask": "255.255.255.0",
                   "restartTime": 60000, "writeTime": 10000, "announceTime": 10000},
      "cameras": [
        {"mac": "00:1B:7C:00:0B:01", "ip": "192.168.0.60", "model": "KT-6500",
         "versions": {"NET MAIN Ver": "V1.00(20100415)", "CAM MAIN Ver": "V1.00(20100301)"
}
}
      ]
      })json");
    const std::string home = prepareHome(ws);
    const Result r =
        runInLab(ws, {"--fleet", fleet, "--scale", "0.01"},
                 toolLines(home) +
                     "echo @@up\n$FW fw-update --yes --json --home \"$H\"\necho rc=$?\n"
                     "echo @@sim\ncurl -s -u kelvo:730162 "
                     "http://192.168.0.60/camsim/firmware\n"
                     "echo @@journal\ncat \"$H\"/changes.jsonl\necho @@end\n"
                     "$FW report --quiet --out \"$H\"/site.html --home \"$H\"\n"
                     "env -u DISPLAY -u WAYLAND_DISPLAY $FW report --quiet --out \"$H\"/site.pdf "
                     "--home \"$H\"\npdftotext -layout \"$H\"/site.pdf \"$H\"/site.txt\n");
    const json up = parseSection(r.out, "up");
    EXPECT_NE(section(r.out, "up").find("rc=0"), std::string::npos) << r.err;
    const std::string sim = section(r.out, "sim");
    EXPECT_EQ(statusValue(sim, "uploads"), "1") << sim;
    EXPECT_NE(statusValue(sim, "file").find("RP2CAM20100501.BIN"), std::string::npos) << sim;
    // Both reports carry each component's versions before and after, with their dates.
    std::ifstream htmlIn(home + "/site.html");
    const std::string html((std::istreambuf_iterator<char>(htmlIn)), {});
    EXPECT_NE(html.find("<td>CAM MAIN V1.00(20100301), NET MAIN V1.00(20100415)</td>"),
              std::string::npos)
        << html;
    EXPECT_NE(html.find("&rarr; CAM MAIN V1.00(20100501), NET MAIN V1.00(20100415)</td>"),
              std::string::npos);
    std::ifstream textIn(home + "/site.txt");
    const std::string text((std::istreambuf_iterator<char>(textIn)), {});
    for (const char* v : {"V1.00(20100301)", "V1.00(20100501)", "V1.00(20100415)"})
        EXPECT_NE(text.find(v), std::string::npos) << v << "\n" << text;
    const json cam = up["cameras"][0];
    EXPECT_EQ(cam["result"], "completed");
    EXPECT_EQ(cam["versions"]["camMain"], "V1.00(20100501)");
    EXPECT_EQ(cam["versions"]["netMain"], "V1.00(20100415)");
    EXPECT_EQ(cam["firmware"], "CM Ver V1.00 CS Ver  NM Ver V1.00 NS Ver  ");
    // The update is in the day's changes, with the version before and after.
    const std::string journal = section(r.out, "journal");
    ASSERT_EQ(countOf(journal, "\n"), 1u) << journal;
    const json line = json::parse(journal, nullptr, false);
    ASSERT_FALSE(line.is_discarded()) << journal;
    EXPECT_EQ(line["kind"], "firmware");
    EXPECT_EQ(line["mac"], "00:1B:7C:00:0B:01");
    // Each component's version with its date, in the order of the camera's components.
    EXPECT_EQ(line["before"], "CAM MAIN V1.00(20100301), NET MAIN V1.00(20100415)");
    EXPECT_EQ(line["after"], "CAM MAIN V1.00(20100501), NET MAIN V1.00(20100415)");
    EXPECT_EQ(line["result"], "accepted");
}

TEST(LabFwRun, CancelWhileWaitingEndsThatCameraWithoutContactingIt) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", kThreeCameras);
    const std::string home = prepareHome(ws);
    const std::string err = ws.path("up.err");
    const Result r = runInLab(
        ws, {"--fleet", fleet, "--scale", "0.05"},
        toolLines(home) + "echo @@up\n$FW fw-update --yes --json --home \"$H\" 2>" + quote(err) +
            " &\npid=$!\n"
            "for i in $(seq 600); do grep -q ' waiting ' " +
            quote(err) +
            " 2>/dev/null && break; sleep 0.02; done\n"
            "kill -INT $pid\nwait $pid\necho rc=$?\n"
            "for ip in 70 71 72; do echo @@sim$ip\n"
            "curl -s -u kelvo:730162 http://192.168.0.$ip/camsim/firmware; "
            "done\necho @@end\n");
    const json up = parseSection(r.out, "up");
    EXPECT_NE(section(r.out, "up").find("rc=130"), std::string::npos) << r.err;
    EXPECT_TRUE(up["cancelled"].get<bool>());
    const std::string errText = ws.read("up.err");
    std::string waiting;
    for (const auto& [mac, state] : progress(errText))
        if (state == "waiting") waiting = mac;
    ASSERT_FALSE(waiting.empty()) << errText;
    auto cams = camerasByMac(up["cameras"]);
    EXPECT_EQ(cams[waiting]["result"], "cancelled") << errText;
    EXPECT_EQ(cams[waiting]["sentBytes"], 0);
    const std::string ip = cams[waiting]["ip"].get<std::string>();
    const std::string sim = section(r.out, "sim" + ip.substr(ip.rfind('.') + 1));
    EXPECT_EQ(statusValue(sim, "uploads"), "0") << sim;
    // The two that were transferring finish their image and stop at the next cancel check.
    for (const auto& [mac, cam] : cams) {
        if (mac != waiting) {
            EXPECT_EQ(cam["result"], "cancelled") << mac;
        }
    }
}

TEST(LabFwRun, CameraThatNeverComesBackFailsAndGetsRestartCommands) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", R"json({
      "defaults": {"model": "KT-5200", "proto": 2, "mask": "255.255.255.0", "firmware": "1.20",
                   "restartTime": 60000, "writeTime": 10000, "announceTime": 10000,
                   "versions": {"CAM MAIN Ver": "1.20(20100101)"
      }
      }
      , "cameras"
          : [ {"mac" : "00:1B:7C:00:0C:01", "ip" : "192.168.0.70", "faults" : ["nocomeback"]} ]
      })json");
    const std::string home = prepareHome(ws, "RetryCount=1\n");
    const Result r =
        runInLab(ws, {"--fleet", fleet, "--scale", "0.005"},
                 toolLines(home) +
                     "echo @@up\n$FW fw-update --yes --json --home \"$H\"\necho rc=$?\n"
                     "echo @@log\ncat \"$H\"/IPLog/*\n"
                     "echo @@journal\ncat \"$H\"/changes.jsonl\necho @@end\n");
    const json up = parseSection(r.out, "up");
    EXPECT_NE(section(r.out, "up").find("rc=1"), std::string::npos) << r.err;
    EXPECT_EQ(up["cameras"][0]["result"], "failed");
    // The failed update is in the day's changes too.
    const json change = json::parse(section(r.out, "journal"), nullptr, false);
    ASSERT_FALSE(change.is_discarded()) << section(r.out, "journal");
    EXPECT_EQ(change["kind"], "firmware");
    // Read before, never after: the old version is no evidence of the update.
    EXPECT_EQ(change["before"], "CAM MAIN 1.20(20100101)");
    EXPECT_EQ(change["after"], "CAM MAIN not read; tried RM2125.BIN");
    EXPECT_EQ(change["result"].get<std::string>().rfind("failed (", 0), 0u) << change.dump();
    const std::string log = section(r.out, "log");
    EXPECT_NE(log.find("FirmupRebootWaitVer1 Timeout"), std::string::npos);
    EXPECT_NE(log.find("FirmUpload Retry(0) Reboot error"), std::string::npos);
    // The dispatcher keeps sending the restart command to the failed camera.
    EXPECT_GE(countOf(log, "SetRebootCommand."), 2u) << log.substr(0, 4000);
}

TEST(LabFwRun, WideCameraGetsItsAspectRatioAndRecordingSettingsBack) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", R"json({
      "defaults": {"proto": 2, "mask": "255.255.255.0",
                   "restartTime": 60000, "writeTime": 10000, "announceTime": 10000},
      "cameras": [
        {"mac": "00:1B:7C:00:0D:01", "ip": "192.168.0.63", "model": "KT-6500",
         "aspectRatio": 1, "recStatus": 1, "faults": ["recordreset"],
         "record": {"rec_mode": "2", "rec_quality": "high", "sd_rec": "1"},
         "versions": {"NET MAIN Ver": "V1.00(20100415)", "CAM MAIN Ver": "V1.00(20100301)"
      }
      }
      ]
      })json");
    const std::string home = prepareHome(ws);
    const std::string cgi = "curl -s -u kelvo:730162 'http://192.168.0.63/cgi-bin/";
    const Result r =
        runInLab(ws, {"--fleet", fleet, "--scale", "0.01"},
                 toolLines(home) +
                     "echo @@up\n$FW fw-update --yes --json --home \"$H\"\necho rc=$?\n"
                     "echo @@codec\n" +
                     cgi +
                     "codec_stream.cgi?status=1'\n"
                     "echo @@record\n" +
                     cgi +
                     "record.cgi?status=1'\n"
                     "echo @@log\ncat \"$H\"/IPLog/*\necho @@end\n");
    const json up = parseSection(r.out, "up");
    EXPECT_NE(section(r.out, "up").find("rc=0"), std::string::npos) << r.err;
    EXPECT_EQ(up["cameras"][0]["result"], "completed");
    EXPECT_NE(section(r.out, "codec").find("aspect_ratio:(1)"), std::string::npos)
        << section(r.out, "codec");
    const std::string record = section(r.out, "record");
    for (const char* kv : {"rec_mode:(2)", "rec_quality:(high)", "sd_rec:(1)"})
        EXPECT_NE(record.find(kv), std::string::npos) << kv << "\n" << record;
    const std::string log = section(r.out, "log");
    EXPECT_NE(log.find("SetAspect HD Mode."), std::string::npos);
    EXPECT_NE(log.find("FirmUpload HD To SD Chenge Start."), std::string::npos);
    EXPECT_NE(log.find("RecordCgi Set."), std::string::npos);
}
