#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "app/profile_file.h"
#include "app/settings.h"
#include "app/temp_dir.h"

using namespace lanrove;

namespace {

FirmuploadSettings settingsFrom(const std::string& body) {
    return readFirmuploadSettings(ProfileFile::parse("[Firmupload]\n" + body + "\n"));
}

}  // namespace

TEST(Settings, DecimalConversionStopsAtTheFirstNonDigitAndSaturates) {
    EXPECT_EQ(decimalValue(u" \t7x"), 7);
    EXPECT_EQ(decimalValue(u"abc"), 0);
    EXPECT_EQ(decimalValue(u"-5"), -5);
    EXPECT_EQ(decimalValue(u"- 8"), 0);
    EXPECT_EQ(decimalValue(u"99999999999999999999999"), INT_MAX);
    EXPECT_EQ(decimalValue(u"-2147483648"), INT_MIN);
    EXPECT_EQ(decimalValue(u"-99999999999999999999999"), INT_MIN);
}

TEST(Settings, ValuesOutsideTheirRangeGiveDefaults) {
    const struct {
        const char* value;
        int expected;
    } instances[] = {
        {"0", 10},  {"11", 10}, {"abc", 10},  {"", 10},          {"-3", 10}, {"3", 3},
        {" 7x", 7}, {"10", 10}, {"\"4\"", 4}, {"4294967299", 10}};  // 3 if the conversion wrapped
                                                                    // at 32 bits
    for (const auto& c : instances) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(settingsFrom(std::string("Instance=") + c.value).nInstance, c.expected);
    }
    FirmuploadSettings s = settingsFrom("RetryCount=9\nUploadingTime=65534");
    EXPECT_EQ(s.nRetryCount, 9);
    EXPECT_EQ(s.nUploadingTime, 65534);
    s = settingsFrom("retrycount=10\nUPLOADINGTIME=65535");
    EXPECT_EQ(s.nRetryCount, 3);
    EXPECT_EQ(s.nUploadingTime, 30);
    s = settingsFrom("RetryCount=0\nUploadingTime=1");
    EXPECT_EQ(s.nRetryCount, 3);
    EXPECT_EQ(s.nUploadingTime, 1);
}

TEST(Settings, OnlyTheTextZeroSwitchesVersionCompareOff) {
    EXPECT_FALSE(settingsFrom("VersionCompara=0").bVersionCompare);
    EXPECT_FALSE(settingsFrom("VersionCompara= '0' ").bVersionCompare);
    for (const char* on : {"VersionCompara=", "VersionCompara=00", "VersionCompara=off", ""})
        EXPECT_TRUE(settingsFrom(on).bVersionCompare) << on;
}

TEST(Settings, FileBesideTheProgram) {
    test::TempDir dir;
    const FirmuploadSettings none = readFirmuploadSettings(dir.path() / "lanrove-setup.ini");
    EXPECT_EQ(none.nInstance, 10);
    EXPECT_EQ(none.nRetryCount, 3);
    EXPECT_EQ(none.nUploadingTime, 30);
    EXPECT_TRUE(none.bVersionCompare);

    const auto ini = dir.write("lanrove-setup.ini",
                               "\xEF\xBB\xBF[FIRMUPLOAD]\r\nInstance=2\r\n[Other]\r\n"
                               "UploadingTime=99\r\nLong=" +
                                   std::string(200, '9') + "\r\n");
    const FirmuploadSettings s = readFirmuploadSettings(ini);
    EXPECT_EQ(s.nInstance, 2);
    EXPECT_EQ(s.nUploadingTime, 30);  // in another section
    EXPECT_EQ(readSetting(u"Other", u"Long", ini).size(), 127u);
}
