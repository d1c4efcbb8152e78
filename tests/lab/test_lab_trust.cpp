// What the program trusts of a camera on a lab LAN: a certificate that changes between two runs
// is refused before any request reaches the camera (the simulator's request list shows none)
// and accepted after `trust`; an old camera's TLS 1.0 is spoken and reported; a MAC answering
// one search from two addresses is marked in the list and by the doctor.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include "lab_harness.h"

using namespace lanrove::lab;
using nlohmann::json;

namespace {

constexpr const char* kMac = "00:1B:7C:00:0E:01";

std::set<std::string> codesOf(const json& doctor, const std::string& mac) {
    std::set<std::string> codes;
    for (const json& f : doctor["findings"])
        if (f["mac"] == mac) codes.insert(f["code"].get<std::string>());
    return codes;
}

const json* findingOf(const json& doctor, const std::string& mac, const std::string& code) {
    for (const json& f : doctor["findings"])
        if (f["mac"] == mac && f["code"] == code) return &f;
    return nullptr;
}

}  // namespace

TEST(LabTrust, ChangedCertificateIsRefusedBeforeAnyRequestAndAcceptedAfterTrust) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    // "newcert": the simulator makes a new certificate each time it starts.
    const std::string fleet = ws.write("fleet.json", R"({
      "defaults": {"model": "KT-5200", "proto": 2, "mask": "255.255.255.0"},
      "cameras": [{"mac": "00:1B:7C:00:0E:01", "ip": "192.168.0.30", "port": 443, "ssl": true,
                   "title": "Gate", "faults": ["newcert"]}]})");
    const std::string home = " --home " + quote(ws.path("home"));
    // The cameras' factory account.
    const std::string info = "$CLI info --ip 192.168.0.30 --port 443 --ssl --mac " +
                             std::string(kMac) + home + " --json";
    const std::string requests = "curl -sk https://192.168.0.30:443/camsim/requests";

    const Result first = runInLab(ws, {"--fleet", fleet, "--scale", "0.05"},
                                  "echo @@first; " + info + "; echo rc=$?\n");
    ASSERT_EQ(first.exitCode, 0) << first.err;
    ASSERT_NE(section(first.out, "first").find("rc=0"), std::string::npos)
        << first.out << first.err;

    const Result r = runInLab(
        ws, {"--fleet", fleet, "--scale", "0.05"},
        "echo @@refused; " + info + "; echo rc=$?\n" + "echo @@doctor; $CLI doctor --json" + home +
            "\n" + "echo @@requests; " + requests + "\n" + "echo @@trust; $CLI trust --mac " +
            kMac + home + "\n" + "echo @@again; " + info + "; echo rc=$?\n" + "echo @@after; " +
            requests + "\necho @@end\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(section(r.out, "refused").find("rc=1"), std::string::npos) << r.out << r.err;
    EXPECT_NE(
        r.err.find("camera " + std::string(kMac) + " presented a different HTTPS certificate"),
        std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("lanrove-cli trust --mac " + std::string(kMac)), std::string::npos);

    const json doctor = parseSection(r.out, "doctor");
    const json* changed = findingOf(doctor, kMac, "camera-certificate-changed");
    ASSERT_NE(changed, nullptr) << doctor.dump(2);
    EXPECT_EQ((*changed)["severity"], "error");
    EXPECT_NE((*changed)["fix"].get<std::string>().find("lanrove-cli trust --mac"),
              std::string::npos);

    // Neither the refused login nor the doctor's probe reached the camera.
    const std::string before = section(r.out, "requests");
    EXPECT_EQ(before.find("lang.cgi"), std::string::npos) << before;
    EXPECT_EQ(before.find("auth=1"), std::string::npos) << before;

    EXPECT_NE(section(r.out, "trust").find("pinned SHA-256"), std::string::npos) << r.out;
    EXPECT_NE(section(r.out, "again").find("rc=0"), std::string::npos) << r.out << r.err;
    EXPECT_NE(section(r.out, "after").find("lang.cgi auth=1"), std::string::npos) << r.out;
}

TEST(LabTrust, LegacyTlsCameraIsLoggedInAndReportedAsInfo) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", R"({
      "defaults": {"model": "KT-5200", "proto": 2, "mask": "255.255.255.0"},
      "cameras": [{"mac": "00:1B:7C:00:0E:02", "ip": "192.168.0.31", "port": 443, "ssl": true,
                   "title": "Old", "faults": ["legacytls"]}]})");
    const std::string home = " --home " + quote(ws.path("home"));
    const Result r = runInLab(
        ws, {"--fleet", fleet, "--scale", "0.05"},
        "echo @@info; $CLI info --ip 192.168.0.31 --port 443 --ssl --mac 00:1B:7C:00:0E:02" + home +
            " --json; echo rc=$?\n" + "echo @@doctor; $CLI doctor --json" + home +
            "; echo rc=$?\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(section(r.out, "info").find("rc=0"), std::string::npos) << r.out << r.err;
    const json doctor = parseSection(r.out, "doctor");
    const json* legacy = findingOf(doctor, "00:1B:7C:00:0E:02", "camera-legacy-tls");
    ASSERT_NE(legacy, nullptr) << doctor.dump(2);
    EXPECT_EQ((*legacy)["severity"], "info");
    EXPECT_NE((*legacy)["evidence"].get<std::string>().find("TLSv1,"), std::string::npos);
    EXPECT_EQ(codesOf(doctor, "00:1B:7C:00:0E:02"), (std::set<std::string>{"camera-legacy-tls"}));
    EXPECT_NE(section(r.out, "doctor").find("rc=0"), std::string::npos) << r.out;
}

TEST(LabTrust, SpoofedReplyIsMarkedInTheListAndByTheDoctor) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    // The first camera's MAC also answers from another address; the second repeats itself.
    const std::string fleet = ws.write("fleet.json", R"({
      "defaults": {"model": "KT-5200", "proto": 2, "mask": "255.255.255.0"},
      "cameras": [
        {"mac": "00:1B:7C:00:0E:03", "ip": "192.168.0.32", "title": "Real",
         "faults": ["spoof=192.168.0.99"]},
        {"mac": "00:1B:7C:00:0E:04", "ip": "192.168.0.33", "title": "Echo", "faults": ["twice"]}
      ]})");
    const std::string home = " --home " + quote(ws.path("home"));
    const Result r = runInLab(ws, {"--fleet", fleet, "--scale", "0.05"},
                              "echo @@search; $CLI search --json" + home + "\n" +
                                  "echo @@doctor; $CLI doctor --json" + home + "\necho @@end\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json search = parseSection(r.out, "search");
    const auto cams = camerasByMac(search["cameras"]);
    ASSERT_EQ(cams.size(), 2u) << search.dump(2);
    const json& spoofed = cams.at("00:1B:7C:00:0E:03");
    EXPECT_EQ(spoofed["status"], "CAUTION") << spoofed.dump(2);
    EXPECT_EQ(spoofed["ip"], "192.168.0.32");  // the first reply is the one listed
    EXPECT_NE(spoofed.value("spoofed", std::string()).find("192.168.0.99"), std::string::npos)
        << spoofed.dump(2);
    EXPECT_EQ(cams.at("00:1B:7C:00:0E:04")["status"], "OK");
    EXPECT_FALSE(cams.at("00:1B:7C:00:0E:04").contains("spoofed"));

    const json doctor = parseSection(r.out, "doctor");
    EXPECT_NE(findingOf(doctor, "00:1B:7C:00:0E:03", "camera-spoofed-reply"), nullptr)
        << doctor.dump(2);
    EXPECT_TRUE(codesOf(doctor, "00:1B:7C:00:0E:04").empty()) << doctor.dump(2);
}
