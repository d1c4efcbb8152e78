// The PC's adapters, the start-up network check and the ICMP echo on a lab LAN.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "lab_harness.h"

using namespace lanrove::lab;
using nlohmann::json;

TEST(LabHostNetwork, TwoAdaptersAndTheCheckPingsTheGateway) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const Result r = runInLab(ws,
                              {"--adapters", "2", "--pc-addr", "192.168.0.10/24", "--pc-addr2",
                               "10.1.2.3/16", "--gateway", "192.168.0.1", "--scale", "0.05"},
                              "ip addr add 192.168.0.99/24 dev eth0\n"  // a second address on eth0
                              "$CLI adapters --json\n");
    ASSERT_EQ(r.exitCode, 0) << r.err << r.out;
    const json out = json::parse(r.out, nullptr, false);
    ASSERT_FALSE(out.is_discarded()) << r.out;
    ASSERT_EQ(out["adapters"].size(), 2u);
    const json& a = out["adapters"][0];
    const json& b = out["adapters"][1];
    EXPECT_EQ(a["interface"], "eth0");
    EXPECT_EQ(a["ip"], "192.168.0.10");  // only the first address
    EXPECT_EQ(a["mask"], "255.255.255.0");
    EXPECT_EQ(a["gateway"], "192.168.0.1");
    EXPECT_EQ(b["interface"], "eth1");
    EXPECT_EQ(b["ip"], "10.1.2.3");
    EXPECT_EQ(b["mask"], "255.255.0.0");
    EXPECT_EQ(b["gateway"], "0.0.0.0");
    EXPECT_NE(a["mac"], b["mac"]);
    EXPECT_NE(a["mac"], "00:00:00:00:00:00");
    EXPECT_EQ(out["check"]["outcome"], "pass");
    EXPECT_EQ(out["check"]["target"], "192.168.0.1");
    EXPECT_EQ(out["check"]["echo"], 0);
}

TEST(LabHostNetwork, FirstAdapterWithoutAddressIsSkipped) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const Result r = runInLab(ws,
                              {"--adapters", "2", "--pc-addr", "none", "--pc-addr2", "10.1.2.3/24",
                               "--gateway", "off", "--scale", "0.05"},
                              "$CLI adapters --json\n");
    ASSERT_EQ(r.exitCode, 0) << r.err << r.out;
    const json out = json::parse(r.out, nullptr, false);
    ASSERT_EQ(out["adapters"].size(), 1u) << r.out;
    EXPECT_EQ(out["adapters"][0]["interface"], "eth1");
    // No gateway: network address + 1, which nobody answers: no answer in time still passes.
    EXPECT_EQ(out["check"]["target"], "10.1.2.1");
    EXPECT_EQ(out["check"]["echo"], 11010);
    EXPECT_EQ(out["check"]["outcome"], "pass");
}

TEST(LabHostNetwork, NoAddressAtAllAndNoIcmpAtAll) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const Result r = runInLab(ws, {"--pc-addr", "none", "--gateway", "off", "--scale", "0.05"},
                              "echo @@none; $CLI adapters --json; echo \"rc=$?\"\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string none = section(r.out, "none");
    const json out = json::parse(none.substr(0, none.rfind("rc=")), nullptr, false);
    ASSERT_FALSE(out.is_discarded()) << none;
    EXPECT_EQ(out["adapters"].size(), 0u);
    EXPECT_EQ(out["check"]["outcome"], "no-address");
    EXPECT_EQ(out["check"]["target"], "");
    EXPECT_NE(none.find("rc=1"), std::string::npos);

    // An unprivileged user without ICMP datagram sockets can open no ICMP socket at all: 255,
    // and the start-up check reports the firewall case.
    const Result u = runInLab(
        ws, {"--scale", "0.05"},
        "echo @@ping; setpriv --reuid=65534 --regid=65534 --clear-groups $CLI ping 192.168.0.1\n"
        "echo @@check; setpriv --reuid=65534 --regid=65534 --clear-groups $CLI adapters --json\n");
    ASSERT_EQ(u.exitCode, 1) << u.err << u.out;
    EXPECT_EQ(section(u.out, "ping"), "255\n");
    const json check = json::parse(section(u.out, "check"), nullptr, false);
    ASSERT_FALSE(check.is_discarded()) << u.out;
    EXPECT_EQ(check["check"]["outcome"], "firewall");
    EXPECT_EQ(check["check"]["echo"], 255);
}

TEST(LabHostNetwork, TenEchoesAtOnceKeepTheirOwnReplies) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet =
        ws.write("fleet.json", R"({"cameras": [{"mac": "00:80:45:00:00:01", "ip": "192.168.0.2"},
                                      {"mac": "00:80:45:00:00:02", "ip": "192.168.0.3"},
                                      {"mac": "00:80:45:00:00:03", "ip": "192.168.0.4"}]})");
    const std::string targets =
        "192.168.0.1 lab-gateway camera-two 192.168.0.3 192.168.0.4 192.168.0.10 192.168.0.77 "
        "192.168.0.78 192.168.0.79 no-such-camera";
    const std::string expected =
        "192.168.0.1 0\nlab-gateway 0\ncamera-two 0\n192.168.0.3 0\n192.168.0.4 0\n192.168.0.10 0\n"
        "192.168.0.77 11010\n192.168.0.78 11010\n192.168.0.79 11010\nno-such-camera 11018\n";
    // Raw sockets first (the namespace's default), then ICMP datagram sockets.
    const Result r = runInLab(
        ws, {"--fleet", fleet, "--host", "camera-two=192.168.0.2", "--scale", "0.05"},
        "echo @@raw; $CLI ping " + targets +
            " --timeout 20000\n"
            "sysctl -qw net.ipv4.ping_group_range='0 2147483647'\n"
            "echo @@datagram; $CLI ping " +
            targets +
            " --timeout 20000\n"
            "echo @@single; $CLI ping 192.168.0.1; $CLI ping 192.168.0.200 --timeout 100\n");
    EXPECT_EQ(r.exitCode, 1) << r.err;  // the last ping did not answer
    EXPECT_EQ(section(r.out, "raw"), expected);
    EXPECT_EQ(section(r.out, "datagram"), expected);
    EXPECT_EQ(section(r.out, "single"), "0\n11010\n");
}
