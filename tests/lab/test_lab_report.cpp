// The handover report after an address plan and a manual setting: every camera, the changes
// with before and after, pictures that decode, and a PDF whose first page renders.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

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
    EXPECT_NE(
        changes.find(
            "&rarr; 192.168.0.61/255.255.255.0 gw 192.168.0.1 port 80 SSL off &quot;Lobby&quot;"),
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
