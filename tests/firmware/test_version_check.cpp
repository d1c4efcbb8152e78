// The version check without the network: the camera's version texts, CheckVersion's comparison
// with its trace lines and the version text after an update.
#include <gtest/gtest.h>

#include "discovery/log_capture.h"
#include "firmware/version_check.h"
#include "support/text.h"

using namespace lanrove;
using lanrove::testing::LogCapture;

namespace {

CameraEntry camera(std::uint16_t protoVer, std::string_view model) {
    CameraEntry e{};
    e.clear();
    setField(e.szNo, std::string_view("3"));
    setField(e.szModel, model);
    e.wProtoVer = protoVer;
    return e;
}

const FirmwareCatalogueRow& row(std::uint16_t generation, std::uint16_t index,
                                std::u16string_view model) {
    const FirmwareCatalogueRow* r = FindCatalogueRow(generation, index, model);
    EXPECT_NE(r, nullptr);
    return *r;
}

}  // namespace

TEST(VersionText, MainAndDayNumbers) {
    ParsedVersion p = ParseVersionText(u"1.23(20100415)");
    EXPECT_TRUE(p.bOk);
    EXPECT_EQ(p.dwMain, 123u);
    EXPECT_EQ(p.dwDay, 20100415u);

    p = ParseVersionText(u"V1.05(20100301)");
    EXPECT_TRUE(p.bOk);
    EXPECT_EQ(p.dwMain, 105u);
    EXPECT_EQ(p.dwDay, 20100301u);

    // Without ")" the day number stays 0.
    p = ParseVersionText(u"2.00(2010");
    EXPECT_TRUE(p.bOk);
    EXPECT_EQ(p.dwMain, 200u);
    EXPECT_EQ(p.dwDay, 0u);

    EXPECT_FALSE(ParseVersionText(u"1.05").bOk);      // no "("
    EXPECT_FALSE(ParseVersionText(u"V.(2010)").bOk);  // no main digits
    EXPECT_FALSE(ParseVersionText(u"1.0()").bOk);     // no day digits
    // An empty main part fails, though the day is still read.
    p = ParseVersionText(u"(20100301)");
    EXPECT_FALSE(p.bOk);
    EXPECT_EQ(p.dwDay, 20100301u);
    // Digits beyond 32 bits are no version.
    EXPECT_FALSE(ParseVersionText(u"1.2.3.4.5.6.7.8.9.10(2010)").bOk);
}

TEST(VersionCheck, DayFormatComparisonWithItsTraceLines) {
    LogCapture capture;
    CameraEntry cam = camera(2, "KT-6500");
    setField(cam.szNetMainVer, std::string_view("V1.05(20100301)"));
    const FirmwareCatalogueRow& net = row(2, 0, u"KT-6500");

    EXPECT_EQ(CompareFirmwareVersion(cam, net, 20100415, capture.log()), 4608u);
    EXPECT_EQ(capture.count("CamNo(3) CheckVersion VersionComp3 Set(V1.05(20100301))."), 1u);
    EXPECT_EQ(capture.count("CamNo(3) DayVerCompFmt Effect Firmware CamVer(20100301) "
                            "FileVer(20100415)."),
              1u);
    EXPECT_EQ(CompareFirmwareVersion(cam, net, 20100301, capture.log()), 4610u);
    EXPECT_EQ(capture.count("CamNo(3) DayVerCompFmt New Firmware CamVer(20100301) "
                            "FileVer(20100301)."),
              1u);
    EXPECT_EQ(CompareFirmwareVersion(cam, net, 20100101, capture.log()), 4610u);
    EXPECT_EQ(capture.count("CamNo(3) DayVerCompFmt New Ivalid Firmware CamVer(20100301) "
                            "FileVer(20100101)."),
              1u);
}

TEST(VersionCheck, MainFormatAndUnusableTexts) {
    LogCapture capture;
    CameraEntry cam = camera(2, "KT-5200");
    const FirmwareCatalogueRow& bin = row(2, 0, u"KT-5200");  // camera main, main numbers
    setField(cam.szCamMainVer, std::string_view("1.05(20100301)"));
    EXPECT_EQ(CompareFirmwareVersion(cam, bin, 106, capture.log()), 4608u);
    EXPECT_EQ(capture.count("CamNo(3) MainVerCompFmt Effect Firmware CamVer(105) FileVer(106)."),
              1u);
    EXPECT_EQ(CompareFirmwareVersion(cam, bin, 104, capture.log()), 4610u);
    EXPECT_EQ(capture.count("CamNo(3) MainVerCompFmt New Ivalid Firmware CamVer(105) "
                            "FileVer(104)."),
              1u);

    setField(cam.szCamMainVer, std::string_view("1.05"));
    EXPECT_EQ(CompareFirmwareVersion(cam, bin, 106, capture.log()), 8195u);
    EXPECT_EQ(capture.count("CamNo(3) GetFirmVer Search Virsion String Error."), 1u);
    setField(cam.szCamMainVer, std::string_view("(20100301)"));
    EXPECT_EQ(CompareFirmwareVersion(cam, bin, 106, capture.log()), 8195u);
    setField(cam.szCamMainVer, std::string_view(""));
    EXPECT_EQ(CompareFirmwareVersion(cam, bin, 106, capture.log()), 8195u);
    EXPECT_EQ(capture.count("CamNo(3) CheckVersion Non Version Info."), 1u);

    // A format the table does not know is not comparable.
    FirmwareCatalogueRow odd = bin;
    odd.wVersionFormat = 3;
    setField(cam.szCamMainVer, std::string_view("1.05(20100301)"));
    EXPECT_EQ(CompareFirmwareVersion(cam, odd, 106, capture.log()), 4609u);
}

TEST(VersionCheck, RefreshFailuresGiveUnreachable) {
    LogCapture capture;
    CameraEntry cam = camera(2, "KT-6500");
    const FirmwareCatalogueRow& net = row(2, 0, u"KT-6500");
    EXPECT_EQ(CheckVersion(cam, net, 20100415, capture.log(),
                           [](CameraEntry&) { return VersionRefresh::OutsideSubnet; }),
              8196u);
    EXPECT_EQ(capture.count("CamNo(3) CheckVersion Network Check Error."), 1u);
    EXPECT_EQ(CheckVersion(cam, net, 20100415, capture.log(),
                           [](CameraEntry&) { return VersionRefresh::QueryFailed; }),
              8196u);
    EXPECT_EQ(capture.count("CamNo(3) CheckVersion ReqGetCamSetCgi Error(4609)."), 1u);
    // The refresh fills the version texts that the comparison then reads.
    EXPECT_EQ(CheckVersion(cam, net, 20100415, capture.log(),
                           [](CameraEntry& c) {
                               setField(c.szNetMainVer, std::string_view("V2.00(20100415)"));
                               return VersionRefresh::Ok;
                           }),
              4610u);
    EXPECT_EQ(capture.count("CamNo(3) CheckVersion Start."), 3u);
}

TEST(FirmVersionText, PerMethodAfterAnUpdate) {
    CameraEntry cam = camera(2, "KT-8400");
    setField(cam.szCamMainVer, std::string_view(" 1.05(20100301) "));
    setField(cam.szCamSubVer, std::string_view("2.00 (20100302)"));
    setField(cam.szNetMainVer, std::string_view("3.00"));
    setField(cam.szNetSubVer, std::string_view(""));
    setField(cam.szMecMainVer, std::string_view("4.00(1)"));

    // Generation 1: nothing is written.
    setField(cam.szFirmVer, std::string_view("old"));
    EXPECT_FALSE(SetFirmVersionText(cam, row(1, 0, u"")));
    EXPECT_EQ(fieldUtf8(cam.szFirmVer), "old");

    ASSERT_TRUE(SetFirmVersionText(cam, row(2, 0, u"KT-5300")));
    EXPECT_EQ(fieldUtf8(cam.szFirmVer), "Main:1.05(20100301) Sub:2.00 (20100302)");

    // Method 2: the mechanism and I/O texts only when both are there.
    ASSERT_TRUE(SetFirmVersionText(cam, row(2, 0, u"KT-8400")));
    EXPECT_EQ(fieldUtf8(cam.szFirmVer), "CM Ver 1.05 CS Ver 2.00 NM Ver 3.00 NS Ver  ");
    setField(cam.szIoMainVer, std::string_view("5.00"));
    ASSERT_TRUE(SetFirmVersionText(cam, row(2, 0, u"KT-8400")));
    EXPECT_EQ(fieldUtf8(cam.szFirmVer),
              "CM Ver 1.05 CS Ver 2.00 NM Ver 3.00 NS Ver  MM Ver 4.00 IO Ver 5.00 ");

    // Cut to the field's 127 characters.
    const std::string longText(31, '9');
    for (auto* f : {&cam.szCamMainVer, &cam.szCamSubVer, &cam.szNetMainVer, &cam.szNetSubVer,
                    &cam.szMecMainVer, &cam.szIoMainVer})
        setField(*f, std::string_view(longText));
    ASSERT_TRUE(SetFirmVersionText(cam, row(2, 0, u"KT-8400")));
    EXPECT_EQ(fieldView(cam.szFirmVer).size(), 127u);
}
