// The handover report after an address plan and a manual setting: every camera, the changes
// with before and after, pictures that decode, and a PDF whose first page renders.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cgi/live_image.h"
#include "lab_harness.h"
#include "support/base64.h"

using namespace lanrove::lab;

TEST(LabReport, ChangesAndPicturesOfTheDayAndAPdfThatRenders) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", R"({
      "defaults": {"model": "KT-5200", "proto": 2, "mask": "255.255.255.0"},
      "cameras": [
        {"mac": "00:1B:7C:00:06:01", "ip": "192.168.0.2", "factory": true},
        {"mac": "00:1B:7C:00:06:02", "ip": "192.168.0.2", "factory": true},
        {"mac": "00:1B:7C:00:06:03", "ip": "192.168.0.60", "title": "Gate"}
      ]})");
    const std::string home = ws.path("home");
    const std::string h = " --home " + quote(home);
    const Result r = runInLab(
        ws, {"--fleet", fleet, "--scale", "0.05"},
        "mkdir -p " + quote(home) + "\n" +
            "$CLI auto-set --from 192.168.0.20 --to 192.168.0.40 --yes" + h +
            " >/dev/null || echo auto-failed\n" +
            "$CLI set --mac 00:1B:7C:00:06:03 --ip 192.168.0.61 --title Lobby --gateway "
            "192.168.0.1 --yes" +
            h + " >/dev/null || echo set-failed\n" + "$CLI report --out " +
            quote(home + "/site.html") + " --snapshots" + h + " || echo html-failed\n" +
            "env -u DISPLAY -u WAYLAND_DISPLAY $CLI report --out " + quote(home + "/site.pdf") + h +
            " || echo pdf-failed\n" + "pdftoppm -png -r 40 -f 1 -l 1 " + quote(home + "/site.pdf") +
            " " + quote(home + "/page") + " || echo render-failed\n");
    ASSERT_EQ(r.exitCode, 0) << r.err << r.out;
    EXPECT_EQ(r.out.find("failed"), std::string::npos) << r.out << r.err;

    const std::string html = ws.read("home/site.html");
    ASSERT_FALSE(html.empty()) << r.err;
    for (const char* mac : {"00:1B:7C:00:06:01", "00:1B:7C:00:06:02", "00:1B:7C:00:06:03"})
        EXPECT_NE(html.find(mac), std::string::npos) << mac;
    const std::string changes = html.substr(html.find("Changes made"));
    // Two cameras planned away from the factory address, and the gate camera moved by hand.
    EXPECT_EQ(countOf(changes, "<td>setting</td>"), 3u) << changes;
    EXPECT_EQ(countOf(changes, "<td>192.168.0.2/255.255.255.0"), 2u) << changes;
    EXPECT_NE(changes.find("&rarr; 192.168.0.20/"), std::string::npos) << changes;
    EXPECT_NE(changes.find("&rarr; 192.168.0.21/"), std::string::npos) << changes;
    EXPECT_NE(changes.find("<td>192.168.0.60/255.255.255.0"), std::string::npos);
    EXPECT_NE(changes.find("&rarr; 192.168.0.61/255.255.255.0 gw&nbsp;192.168.0.1 port 80 SSL off "
                           "&quot;Lobby&quot;"),
              std::string::npos)
        << changes;
    EXPECT_EQ(countOf(changes, "<td>accepted</td>"), 3u);

    // One inline picture per camera, each a JPEG with a frame size.
    const std::string marker = "data:image/jpeg;base64,";
    int pictures = 0;
    for (std::size_t p = html.find(marker); p != std::string::npos; p = html.find(marker, p + 1)) {
        const std::size_t from = p + marker.size();
        std::string jpeg;
        ASSERT_TRUE(lanrove::base64Decode(html.substr(from, html.find('"', from) - from), jpeg));
        int w = 0, hgt = 0;
        EXPECT_TRUE(lanrove::JpegFrameSize(jpeg, w, hgt));
        EXPECT_GT(w, 0);
        ++pictures;
    }
    EXPECT_EQ(pictures, 3);

    EXPECT_GT(std::filesystem::file_size(home + "/site.pdf"), 1000u);
    EXPECT_TRUE(std::filesystem::exists(home + "/page-1.png")) << r.err;
}

namespace {

std::vector<std::string> splitOn(const std::string& text, char mark) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, mark)) parts.push_back(part);
    return parts;
}

}  // namespace

// A fleet of thirty cameras printed: one table that continues over the pages with its header
// on each, every row whole on one page, addresses unbroken, the site, date and "n of m" on
// every page; the web page carries the same rows in the same order.
TEST(LabReport, ThirtyCamerasPrintAsOneTableOverNumberedPages) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    std::string cameras;
    std::vector<std::string> macs, ips;
    for (int i = 1; i <= 30; ++i) {
        char mac[32];
        std::snprintf(mac, sizeof mac, "00:1B:7C:00:07:%02X", i);
        // Three factory-fresh cameras share the factory address; one sits in another subnet,
        // which gives it findings long enough to wrap.
        const std::string ip = i <= 3    ? "192.168.0.2"
                               : i == 30 ? "10.9.8.7"
                                         : "192.168.0." + std::to_string(100 + i);
        macs.push_back(mac);
        ips.push_back(ip);
        cameras += std::string(i == 1 ? "" : ",\n") + R"({"mac": ")" + mac + R"(", "ip": ")" + ip +
                   R"(", "title": "Camera )" + std::to_string(i) + R"( on the long north fence")" +
                   (i <= 3 ? R"(, "factory": true)" : "") +
                   (i == 30 ? R"(, "mask": "255.0.0.0", "gateway": "10.0.0.1")" : "") + "}";
    }
    const std::string fleet = ws.write("fleet.json", R"({
      "defaults": {"model": "KT-5200", "proto": 2, "mask": "255.255.255.0"},
      "cameras": [)" + cameras + "]}");
    const std::string home = ws.path("home");
    const std::string h = " --home " + quote(home);
    const Result r = runInLab(
        ws, {"--fleet", fleet, "--scale", "0.05"},
        "mkdir -p " + quote(home) + "\n" + "env -u DISPLAY -u WAYLAND_DISPLAY $CLI report --out " +
            quote(home + "/site.pdf") + " --snapshots --site 'Depot 7' --quiet" + h +
            " || echo pdf-failed\n" + "$CLI report --out " + quote(home + "/site.html") +
            " --site 'Depot 7' --quiet" + h + " || echo html-failed\n" + "pdftotext -layout " +
            quote(home + "/site.pdf") + " " + quote(home + "/site.txt") + " || echo text-failed\n");
    ASSERT_EQ(r.exitCode, 0) << r.err << r.out;
    ASSERT_EQ(r.out.find("failed"), std::string::npos) << r.out << r.err;

    const std::vector<std::string> pages = [&] {
        std::vector<std::string> all = splitOn(ws.read("home/site.txt"), '\f');
        while (!all.empty() && all.back().find_first_not_of(" \n") == std::string::npos)
            all.pop_back();
        return all;
    }();
    ASSERT_GE(pages.size(), 2u) << "thirty rows with pictures fill more than one page";
    const std::string m = std::to_string(pages.size());
    std::vector<std::string> printedOrder;
    for (std::size_t p = 0; p < pages.size(); ++p) {
        const std::string& page = pages[p];
        EXPECT_NE(page.find("Page " + std::to_string(p + 1) + " of " + m), std::string::npos)
            << page;
        EXPECT_NE(page.find("Depot 7"), std::string::npos) << "page " << p + 1;
        std::size_t headers = 0, rows = 0;
        for (const std::string& line : splitOn(page, '\n')) {
            if (line.find("MAC address") != std::string::npos &&
                line.find("Firmware") != std::string::npos)
                ++headers;
            // A row's first line starts with its number (a finding under it never does) and
            // carries its MAC and IP address whole.
            const std::size_t first = line.find_first_not_of(' ');
            if (first == std::string::npos || line[first] < '0' || line[first] > '9') continue;
            for (std::size_t i = 0; i < macs.size(); ++i) {
                if (line.find(macs[i]) == std::string::npos) continue;
                if (line.find(ips[i]) == std::string::npos) continue;
                ++rows;
                printedOrder.push_back(macs[i]);
            }
        }
        if (rows > 0) {
            EXPECT_EQ(headers, 1u) << page;
        }
    }
    // Each camera's row appears once: on one page, on one line.
    std::vector<std::string> sorted = printedOrder;
    std::sort(sorted.begin(), sorted.end());
    std::vector<std::string> expected = macs;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sorted, expected);

    const std::string html = ws.read("home/site.html");
    std::vector<std::string> htmlOrder;
    for (std::size_t p = html.find("<td class=\"nw\">00:1B:7C:00:07:"); p != std::string::npos;
         p = html.find("<td class=\"nw\">00:1B:7C:00:07:", p + 1))
        htmlOrder.push_back(html.substr(p + 15, 17));
    // The two reports come from two searches: the same rows, in each one's list order.
    std::sort(htmlOrder.begin(), htmlOrder.end());
    EXPECT_EQ(htmlOrder, expected);
    EXPECT_EQ(countOf(html, "<thead>"), 1u) << "no changes today: only the camera table";
    EXPECT_NE(html.find("@page{size:A4 landscape"), std::string::npos);
}

// A Japanese installer's report reads in Japanese, findings included; doctor --json keeps its
// English evidence and its codes whatever the locale.
TEST(LabReport, FindingsFollowTheLanguageAndJsonStaysEnglish) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", R"({
      "defaults": {"model": "KT-5200", "proto": 2, "mask": "255.255.255.0"},
      "cameras": [
        {"mac": "00:1B:7C:00:06:11", "ip": "192.168.0.2", "factory": true},
        {"mac": "00:1B:7C:00:06:12", "ip": "192.168.0.2", "factory": true},
        {"mac": "00:1B:7C:00:06:13", "ip": "192.168.0.2", "factory": true},
        {"mac": "00:1B:7C:00:06:14", "ip": "10.20.30.40", "mask": "255.255.0.0"}
      ]})");
    const std::string home = ws.path("home");
    const std::string h = " --home " + quote(home);
    const Result r =
        runInLab(ws, {"--fleet", fleet, "--scale", "0.05"},
                 "mkdir -p " + quote(home) + "\n" + "LC_ALL=ja_JP.UTF-8 $CLI report --out " +
                     quote(home + "/site.html") + h + " || echo html-failed\n" +
                     "LC_ALL=ja_JP.UTF-8 $CLI doctor --json --quiet" + h + " > " +
                     quote(home + "/doctor.json") + " || true\n");  // the outside camera: exit 1
    ASSERT_EQ(r.exitCode, 0) << r.err << r.out;
    EXPECT_EQ(r.out.find("failed"), std::string::npos) << r.out << r.err;
    const std::string html = ws.read("home/site.html");
    EXPECT_NE(html.find("現場引き渡し報告書"), std::string::npos);
    EXPECT_NE(html.find("情報: cameras-factory-fresh: 工場出荷状態のカメラ 3 台が 192.168.0.2 "
                        "にあります"),
              std::string::npos)
        << html;
    EXPECT_NE(html.find("エラー: camera-outside-subnet: 10.20.30.40 はどのアダプターのサブネット"),
              std::string::npos)
        << html;
    EXPECT_EQ(html.find("factory-fresh cameras at"), std::string::npos);
    const std::string json = ws.read("home/doctor.json");
    EXPECT_NE(json.find("\"evidence\": \"3 factory-fresh cameras at 192.168.0.2: give them "
                        "addresses with Auto setting\""),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"code\": \"camera-outside-subnet\""), std::string::npos) << json;
}
