// The live picture on a simulated LAN: lanrove-cli image saving the simulator's pictures, a
// camera that stops answering, and the desktop program's Camera Image and Web Browser buttons
// (the widget cases of test_image_buttons.cpp, run on the lab's PC against the simulator).
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "cgi/live_image.h"
#include "lab_harness.h"

using namespace lanrove::lab;

namespace {

const char* kImageFleet = R"({
  "defaults": {"model": "KT-5200", "proto": 2, "mask": "255.255.255.0"},
  "cameras": [
    {"mac": "00:1B:7C:00:07:71", "ip": "192.168.0.71", "title": "Yard", "faults": ["imagestop=3"]},
    {"mac": "00:1B:7C:00:07:72", "ip": "192.168.0.72", "title": "Porch"},
    {"mac": "00:1B:7C:00:07:75", "ip": "192.168.0.75", "title": "Wide", "aspectRatio": 1},
    {"mac": "00:1B:7C:00:07:76", "ip": "192.168.0.76", "title": "Stops", "faults": ["imagestop=1"]}
  ]})";

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(LabImage, CliSavesPicturesAndFailsWhenTheCameraStops) {
    LANROVE_REQUIRE_LAB();
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", kImageFleet);
    const std::string dir = ws.path("");
    const Result r = runInLab(ws, {"--fleet", fleet, "--scale", "0.05"},
                              "echo @@wide\n"
                              "$CLI image --ip 192.168.0.75 --out " +
                                  quote(dir + "/wide.jpg") +
                                  " --count 2 --json\n"
                                  "echo rc=$?\n"
                                  "echo @@stops\n"
                                  "$CLI image --ip 192.168.0.76 --out " +
                                  quote(dir + "/stops.jpg") +
                                  " --count 3\n"
                                  "echo rc=$?\n"
                                  "echo @@end\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string wide = section(r.out, "wide");
    EXPECT_NE(wide.find("rc=0"), std::string::npos) << r.out << r.err;
    const auto j = nlohmann::json::parse(wide.substr(0, wide.rfind('}') + 1), nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << wide;
    ASSERT_EQ(j["pictures"].size(), 2u);
    EXPECT_EQ(j["pictures"][0]["width"], 320);
    EXPECT_EQ(j["pictures"][0]["height"], 180);
    EXPECT_EQ(j["pictures"][0]["wide"], true);
    const std::string first = readBytes(dir + "/wide-1.jpg");
    const std::string second = readBytes(dir + "/wide-2.jpg");
    int w = 0;
    int h = 0;
    ASSERT_TRUE(lanrove::JpegFrameSize(first, w, h));
    EXPECT_EQ(w, 320);
    EXPECT_EQ(h, 180);
    EXPECT_NE(first, second);

    // One picture, then no answer: exit 1 and only the first file.
    EXPECT_NE(section(r.out, "stops").find("rc=1"), std::string::npos) << r.out;
    EXPECT_TRUE(std::filesystem::exists(dir + "/stops-1.jpg"));
    EXPECT_FALSE(std::filesystem::exists(dir + "/stops-2.jpg"));
}

#ifdef LANROVE_HAVE_GUI
TEST(LabImage, DesktopButtonsAgainstTheSimulator) {
    LANROVE_REQUIRE_LAB();
    const std::string testUi = binaryDir() + "/tests/test_ui";
    if (!std::filesystem::exists(testUi)) GTEST_SKIP() << "no widget tests built";
    Workspace ws;
    const std::string fleet = ws.write("fleet.json", kImageFleet);
    const Result r =
        runInLab(ws, {"--fleet", fleet, "--scale", "0.05"},
                 "export QT_QPA_PLATFORM=offscreen LANROVE_LAB_CAMERAS=1\n" + quote(testUi) +
                     " --gtest_filter='ImageButtonTest."
                     "WindowShowsChangingPicturesAndClosesWhenTheCameraStops:"
                     "ImageButtonTest.EmptyPortUsesPort80AndTheDefaultsStayInTheTable:"
                     "ImageButtonTest.SameAddressTwiceRefusesBothButtons'\n"
                     "echo rc=$?\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("[  PASSED  ] 3 tests."), std::string::npos) << r.out << r.err;
    EXPECT_NE(r.out.find("rc=0"), std::string::npos) << r.out;
}
#endif
