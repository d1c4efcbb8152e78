// Search and IP-setting datagrams between the program and simulated cameras on a lab LAN.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>

#include "lab_harness.h"

using namespace lanrove::lab;
using nlohmann::json;

namespace {

const char* kFleet = R"({
  "defaults": {"model": "KT-5200", "firmware": "1.00", "mask": "255.255.255.0"},
  "cameras": [
    {"mac": "00:80:45:00:00:01", "ip": "192.168.0.2", "proto": 2, "factory": true, "title": "Door"},
    {"mac": "00:80:45:00:00:02", "ip": "192.168.0.2", "proto": 1},
    {"mac": "00:80:45:00:00:03", "ip": "192.168.0.30", "proto": 2, "title": "Yard", "port": 8080,
     "ssl": true, "faults": ["twice", "junk511", "junk513"]},
    {"mac": "00:80:45:00:00:04", "ip": "192.168.0.31", "faults": ["silent"]},
    {"mac": "00:80:45:00:00:05", "ip": "192.168.0.32", "faults": ["unknowncmd"]},
    {"mac": "00:80:45:00:00:06", "ip": "10.20.30.40", "mask": "255.0.0.0", "proto": 2,
     "model": "KT-6500", "title": "Elsewhere"},
    {"mac": "00:80:45:00:00:07", "ip": "192.168.0.41", "proto": 2, "faults": ["badcreds"]}
  ]
})";

json parse(const std::string& text) {
    const json j = json::parse(text, nullptr, false);
    return j;
}

const json* byMac(const json& cameras, const std::string& mac) {
    for (const auto& c : cameras)
        if (c["mac"] == mac) return &c;
    return nullptr;
}

}  // namespace

TEST(LabDiscovery, EachCameraOnceWithOneAcknowledgement) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", kFleet);
    const Result r =
        runInLab(ws, {"--fleet", fleet, "--camsim-log", ws.path("camsim.log"), "--scale", "0.05"},
                 "$CLI discover --trace " + ws.path("trace") + "\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json out = parse(r.out);
    ASSERT_FALSE(out.is_discarded()) << r.out;
    const json& cams = out["cameras"];

    // Everyone but the silent camera and the one that answers with an unknown command.
    std::set<std::string> macs;
    for (const auto& c : cams) EXPECT_TRUE(macs.insert(c["mac"]).second) << "listed twice: " << c;
    EXPECT_EQ(macs,
              (std::set<std::string>{"00:80:45:00:00:01", "00:80:45:00:00:02", "00:80:45:00:00:03",
                                     "00:80:45:00:00:06", "00:80:45:00:00:07"}));
    EXPECT_EQ(out["acknowledgements"], 5);

    const json* door = byMac(cams, "00:80:45:00:00:01");
    ASSERT_NE(door, nullptr);
    EXPECT_EQ((*door)["ip"], "192.168.0.2");
    EXPECT_EQ((*door)["factory"], 1);
    EXPECT_EQ((*door)["title"], "Door");
    EXPECT_EQ((*door)["model"], "KT-5200");
    const json* v1 = byMac(cams, "00:80:45:00:00:02");
    ASSERT_NE(v1, nullptr);
    EXPECT_EQ((*v1)["protoVer"], 1);
    EXPECT_EQ((*v1)["ssl"], "");
    EXPECT_EQ((*v1)["port"], "");
    const json* yard = byMac(cams, "00:80:45:00:00:03");
    ASSERT_NE(yard, nullptr);
    EXPECT_EQ((*yard)["title"], "Yard");  // never the junk datagrams' title
    EXPECT_EQ((*yard)["port"], "8080");
    EXPECT_EQ((*yard)["ssl"], "1");
    const json* other = byMac(cams, "00:80:45:00:00:06");
    ASSERT_NE(other, nullptr);  // a camera outside the PC's subnet answers all the same
    EXPECT_EQ((*other)["ip"], "10.20.30.40");
    EXPECT_EQ((*other)["mask"], "255.0.0.0");

    // Each camera got exactly one acknowledgement; the simulator saw all three requests.
    const std::string log = ws.read("camsim.log");
    for (const auto& mac : macs) EXPECT_EQ(countOf(log, "ack " + mac + " "), 1u) << mac;
    EXPECT_EQ(countOf(log, " ack "), 5u);
    for (const char* n : {"n=1 ", "n=2 ", "n=3 "})
        EXPECT_EQ(countOf(log, std::string("search-request ") + n), 1u);
}

TEST(LabDiscovery, ThousandCamerasInOnePass) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const Result r = runInLab(ws,
                              {"--fleet", sourceDir() + "/lab/fleets/thousand.json", "--camsim-log",
                               ws.path("camsim.log"), "--pc-addr", "172.16.200.1/16", "--gateway",
                               "off", "--scale", "0.05"},
                              "$CLI discover\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json out = parse(r.out);
    ASSERT_FALSE(out.is_discarded());
    std::set<std::string> macs;
    for (const auto& c : out["cameras"]) macs.insert(c["mac"].get<std::string>());
    EXPECT_EQ(out["cameras"].size(), 1000u);
    EXPECT_EQ(macs.size(), 1000u);
    EXPECT_EQ(out["acknowledgements"], 1000);
    EXPECT_EQ(countOf(ws.read("camsim.log"), " ack "), 1000u);
}

TEST(LabDiscovery, EachAdapterHearsOnlyItsOwnSegment) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", kFleet);
    const Result r =
        runInLab(ws,
                 {"--fleet", fleet, "--adapters", "2", "--split", "--pc-addr", "192.168.5.10/24",
                  "--pc-addr2", "192.168.0.10/24", "--gateway", "192.168.5.1", "--scale", "0.05"},
                 "echo @@first; $CLI discover --adapter 0\n"
                 "echo @@second; $CLI discover --interface eth1\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json first = parse(section(r.out, "first"));
    const json second = parse(section(r.out, "second"));
    ASSERT_FALSE(first.is_discarded() || second.is_discarded()) << r.out;
    EXPECT_EQ(first["adapter"]["interface"], "eth0");
    EXPECT_EQ(first["cameras"].size(), 0u);
    EXPECT_EQ(second["adapter"]["interface"], "eth1");
    EXPECT_EQ(second["cameras"].size(), 5u);
}

TEST(LabIpSetting, CameraMovesAndAnswersAtItsNewAddress) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", kFleet);
    // Pings after a move wait long enough (2 s here) for the PC to learn the new neighbour.
    const Result r = runInLab(
        ws, {"--fleet", fleet, "--camsim-log", ws.path("camsim.log"), "--scale", "0.05"},
        "echo @@moveA; $CLI discover-set --yes --mac 00:80:45:00:00:01 --ip 192.168.0.50 --title Moved\n"
        "echo @@pingA; $CLI ping 192.168.0.50 192.168.0.2 --timeout 40000\n"
        "echo @@moveB; $CLI discover-set --yes --mac 00:80:45:00:00:02 --ip 192.168.0.51 --proto 1\n"
        "echo @@pingB; $CLI ping 192.168.0.51 --timeout 40000; $CLI ping 192.168.0.2\n"
        "echo @@refused; $CLI discover-set --yes --mac 00:80:45:00:00:07 --ip 192.168.0.52\n"
        "echo @@wrongpassword; $CLI discover-set --yes --mac 00:80:45:00:00:03 --ip 192.168.0.53 "
        "--password x\n"
        "echo @@after; $CLI discover\n"
        "echo @@addresses; ip -n \"$LANROVE_LAB_CAM_NS\" -4 -o addr show dev cams0\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;

    const json moveA = parse(section(r.out, "moveA"));
    ASSERT_FALSE(moveA.is_discarded()) << r.out;
    EXPECT_EQ(moveA["accepted"], true);
    ASSERT_EQ(moveA["replies"].size(), 1u);
    EXPECT_EQ(moveA["replies"][0]["result"], 201);
    // The other camera still holds 192.168.0.2, so that address keeps answering.
    EXPECT_EQ(section(r.out, "pingA"), "192.168.0.50 0\n192.168.0.2 0\n");
    EXPECT_EQ(parse(section(r.out, "moveB"))["accepted"], true);
    EXPECT_EQ(section(r.out, "pingB"), "0\n11010\n");  // nobody uses 192.168.0.2 any more

    const json refused = parse(section(r.out, "refused"));
    EXPECT_EQ(refused["accepted"], false);
    EXPECT_EQ(refused["replies"][0]["result"], 401);
    EXPECT_EQ(parse(section(r.out, "wrongpassword"))["replies"][0]["result"], 401);

    const json after = parse(section(r.out, "after"));
    ASSERT_FALSE(after.is_discarded());
    const json* a = byMac(after["cameras"], "00:80:45:00:00:01");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ((*a)["ip"], "192.168.0.50");
    EXPECT_EQ((*a)["title"], "Moved");
    EXPECT_EQ((*a)["factory"], 0);
    EXPECT_EQ((*byMac(after["cameras"], "00:80:45:00:00:02"))["ip"], "192.168.0.51");
    EXPECT_EQ((*byMac(after["cameras"], "00:80:45:00:00:07"))["ip"], "192.168.0.41");
    EXPECT_EQ((*byMac(after["cameras"], "00:80:45:00:00:03"))["ip"], "192.168.0.30");

    const std::string addresses = section(r.out, "addresses");
    EXPECT_NE(addresses.find("192.168.0.50/24"), std::string::npos) << addresses;
    EXPECT_NE(addresses.find("192.168.0.51/24"), std::string::npos);
    EXPECT_EQ(addresses.find("192.168.0.2/"), std::string::npos);
}
