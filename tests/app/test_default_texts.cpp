// The built-in texts against the product's reference list: every (section, key) pair of the
// main list in storage order with its English default, and the row counts of the other
// languages. Rows whose English text is only a caption naming its control (marked nullptr)
// are checked for being present and filled.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/lang_table.h"
#include "app/language.h"
#include "support/text.h"

using namespace lanrove;

namespace {

struct GoldenRow {
    const char16_t* section;
    const char16_t* key;
    const char16_t* english;  // nullptr: a caption whose wording is ours
};

// "\n" in these texts is a line break that belongs to the default.
const GoldenRow kMainList[] = {
    {u"MAIN_WINDOW", u"MAIN_TITLE", u"LANROVE SETUP UTILITY"},
    {u"MAIN_WINDOW", u"MAIN_CAMERA_SEARCH", u"Search Cameras"},
    {u"MAIN_WINDOW", u"MAIN_CAMERA_NO", nullptr},
    {u"MAIN_WINDOW", u"MAIN_CAMERA_STATUS", nullptr},
    {u"MAIN_WINDOW", u"MAIN_CAMERA_MODEL", u"Model name"},
    {u"MAIN_WINDOW", u"MAIN_CAMERA_MAC_ADDRESS", u"MAC Address"},
    {u"MAIN_WINDOW", u"MAIN_CAMERA_IP_ADDRESS", u"IP Address"},
    {u"MAIN_WINDOW", u"MAIN_CAMERA_PORT", nullptr},
    {u"MAIN_WINDOW", u"MAIN_CAMERA_SSL", nullptr},
    {u"MAIN_WINDOW", u"MAIN_CAMERA_TITLE", u"Camera Title"},
    {u"MAIN_WINDOW", u"MAIN_CAMERA_FIRMWARE_VERSION", u"Firmware Version"},
    {u"MAIN_WINDOW", u"MAIN_CAMERA_TOTAL", u"TOTAL"},
    {u"MAIN_WINDOW", u"MAIN_CAMERA_NEW", u"NEW"},
    {u"MAIN_WINDOW", u"MAIN_CAMERA_OK", u"OK"},
    {u"MAIN_WINDOW", u"MAIN_CAMERA_ATTENTION", u"CAUTION"},
    {u"MAIN_WINDOW", u"MAIN_ON", u"ON"},
    {u"MAIN_WINDOW", u"MAIN_OFF", u"OFF"},
    {u"MAIN_WINDOW", u"MAIN_AUTO_SETTING", u"Auto setting"},
    {u"MAIN_WINDOW", u"MAIN_CUSTOM_SETTING", u"Manual setting"},
    {u"MAIN_WINDOW", u"MAIN_IMAGE", u"Camera Image"},
    {u"MAIN_WINDOW", u"MAIN_WEB_BROWSER", u"Web Browser"},
    {u"MAIN_WINDOW", u"MAIN_FIRM_CHECK", u"F/W Check"},
    {u"MAIN_WINDOW", u"MAIN_FIRM_UPLOAD", u"F/W Update"},
    {u"MAIN_WINDOW", u"MAIN_FACTORY_DEFAULT", u"Factory Default"},
    {u"SEARCH_WINDOW", u"SEARCH_TITLE", u"LANROVE SETUP UTILITY"},
    {u"SEARCH_WINDOW", u"SEARCH_SEARCHING", u"Searching..."},
    {u"SEARCH_WINDOW", u"SEARCH_CANCEL", nullptr},
    {u"AUTO_SETTING_WINDOW", u"AUTO_SETTING_TITLE", u"AUTO SETTING"},
    {u"AUTO_SETTING_WINDOW", u"AUTO_SETTING_MESSAGE",
     u"Auto setup is only applied to cameras with factory setting.\nEnter a start or end address "
     u"you want to apply auto setup."},
    {u"AUTO_SETTING_WINDOW", u"AUTO_SETTING_AUTO_SETUP_RANGE", u"Auto setup range"},
    {u"AUTO_SETTING_WINDOW", u"AUTO_SETTING_FROM", u"from"},
    {u"AUTO_SETTING_WINDOW", u"AUTO_SETTING_TO", u"to"},
    {u"AUTO_SETTING_WINDOW", u"AUTO_SETTING_EXECUTE", nullptr},
    {u"AUTO_SETTING_WINDOW", u"AUTO_SETTING_CANCEL", nullptr},
    {u"LOGIN_WINDOW", u"LOGIN_TITLE", u"LOGIN"},
    {u"LOGIN_WINDOW", u"LOGIN_MESSAGE", u"Please input User name and Password of the camera."},
    {u"LOGIN_WINDOW", u"LOGIN_MESSAGE2",
     u"Set below as well when using SSL or changed port number."},
    {u"LOGIN_WINDOW", u"LOGIN_USER_ID", u"User name"},
    {u"LOGIN_WINDOW", u"LOGIN_PASSWORD", u"Password"},
    {u"LOGIN_WINDOW", u"LOGIN_PORT", nullptr},
    {u"LOGIN_WINDOW", u"LOGIN_SSL", nullptr},
    {u"LOGIN_WINDOW", u"LOGIN_ON", nullptr},
    {u"LOGIN_WINDOW", u"LOGIN_OFF", nullptr},
    {u"LOGIN_WINDOW", u"LOGIN_EXECUTE", nullptr},
    {u"LOGIN_WINDOW", u"LOGIN_CANCEL", nullptr},
    {u"CUSTOM_SETTING_WINDOW", u"CUSTOM_SETTING_TITLE", u"MANUAL SETTING"},
    {u"CUSTOM_SETTING_WINDOW", u"CUSTOM_SETTING_NO", nullptr},
    {u"CUSTOM_SETTING_WINDOW", u"CUSTOM_SETTING_MODEL", u"Model Name"},
    {u"CUSTOM_SETTING_WINDOW", u"CUSTOM_SETTING_IP_ADDRESS", u"IP Address"},
    {u"CUSTOM_SETTING_WINDOW", u"CUSTOM_SETTING_SUBNET_MASK", u"Subnet Mask"},
    {u"CUSTOM_SETTING_WINDOW", u"CUSTOM_SETTING_GATEWAY", u"Gateway"},
    {u"CUSTOM_SETTING_WINDOW", u"CUSTOM_SETTING_PORT", u"Port Number"},
    {u"CUSTOM_SETTING_WINDOW", u"CUSTOM_SETTING_SSL", nullptr},
    {u"CUSTOM_SETTING_WINDOW", u"CUSTOM_SETTING_ON", nullptr},
    {u"CUSTOM_SETTING_WINDOW", u"CUSTOM_SETTING_OFF", nullptr},
    {u"CUSTOM_SETTING_WINDOW", u"CUSTOM_SETTING_CAMERA_TITLE", u"Camera Title"},
    {u"CUSTOM_SETTING_WINDOW", u"CUSTOM_SETTING_EXECUTE", nullptr},
    {u"CUSTOM_SETTING_WINDOW", u"CUSTOM_SETTING_CANCEL", nullptr},
    {u"CUSTOM_SETTING_WINDOW", u"CUSTOM_SETTING_MSG1",
     u"Setting you entered is changed. Are you sure?"},
    {u"CUSTOM_SETTING_WINDOW", u"CUSTOM_SETTING_MSG2",
     u"With this new setting, the camera will not be accessible from your PC.\nAre you sure to "
     u"change setting ?"},
    {u"RESET_SETTING_WINDOW", u"RESET_TITLE", u"Factory Default"},
    {u"RESET_SETTING_WINDOW", u"WARNING_MSG",
     u"CAUTION ! \nALL THE CAMERAS IN THE LIST WILL BE RESET TO\nHE FACTORY DEFAULT, INCLUDING IP "
     u"ADDRESS.\nAre you sure to reset ALL the cameras to the facotry default ?"},
    {u"RESET_SETTING_WINDOW", u"SLEEP_MSG", u"In progress...\nPlease wait."},
    {u"SETTING_WINDOW", u"SETTING_TITLE", u"LANROVE SETUP UTILITY"},
    {u"SETTING_WINDOW", u"SETTING_MESSAGE", u"Renewal process...\nPLEASE WAIT !"},
    {u"SETTING_WINDOW", u"SETTING_CANCEL", nullptr},
    {u"FIRMCHECK_WINDOW", u"FIRMCHECK_TITLE", u"F/W Update"},
    {u"FIRMCHECK_WINDOW", u"SLEEP_MSG", u"In progress...\nPlease wait."},
    {u"FIRMUP_WINDOW", u"FIRMUP_TITLE", u"FIRMWARE UPDATE"},
    {u"FIRMUP_WINDOW", u"FIRMUP_CAMNO", u"Camera No."},
    {u"FIRMUP_WINDOW", u"FIRMUP_STS", u"Status"},
    {u"FIRMUP_WINDOW", u"FIRMUP_EXECUTE", nullptr},
    {u"FIRMUP_WINDOW", u"FIRMUP_CANCEL", nullptr},
    {u"FIRMUP_WINDOW", u"FIRMUP_CLOSE", nullptr},
    {u"FIRMUP_WINDOW", u"FIRMUP_MSG01", u"Firmware Update"},
    {u"FIRMUP_WINDOW", u"FIRMUP_MSG02", u"No firmware."},
    {u"FIRMUP_WINDOW", u"FIRMUP_MSG03", u"Transferring firmware.\n%d/%dbyte"},
    {u"FIRMUP_WINDOW", u"FIRMUP_MSG04", u"Update in progress."},
    {u"FIRMUP_WINDOW", u"FIRMUP_MSG05", u"Rebooting camera."},
    {u"FIRMUP_WINDOW", u"FIRMUP_MSG06", u"Updating completed."},
    {u"FIRMUP_WINDOW", u"FIRMUP_CANCELMSG", u"Cancel in progress."},
    {u"FIRMUP_WINDOW", u"FIRMUP_ERRMSG", u"An error has occurred during firmware updating. STS=%d"},
    {u"FIRMUP_WINDOW", u"FIRMUP_WARNINGMSG",
     u"F/W update is not available when the camera is recording on SD/HDD.\nDo you want to stop "
     u"recording, and update the F/W ?\nRecording may be stopped for about 1H."},
    {u"FIRMUP_WINDOW", u"FIRMSTS_NEW", u"LATEST"},
    {u"FIRMUP_WINDOW", u"FIRMSTS_EFFECT", u"Update ready"},
    {u"FIRMUP_WINDOW", u"FIRMSTS_INVALID", u"No firmware"},
    {u"FIRMUP_WINDOW", u"UPSTS_ERROR", u"Error"},
    {u"FIRMUP_WINDOW", u"UPSTS_EXC", u"In progress..."},
    {u"FIRMUP_WINDOW", u"UPSTS_FAILD", u"Failed"},
    {u"FIRMUP_WINDOW", u"UPSTS_END", u"Completed"},
    {u"FIRMUP_WINDOW", u"UPSTS_CANCEL", u"Cancel"},
    {u"LOGO_WINDOW", u"SUB_TITLE", u"LANROVE SETUP UTILITY"},
    {u"ERROR_WINDOW", u"ERROR_TITLE", u"LANROVE SETUP UTILITY"},
    {u"ERROR_WINDOW", u"ERROR_TITLE_ERROR", u"Err"},
    {u"ERROR_WINDOW", u"ERROR_FIREWALL",
     u"To execute Lanrove setup, disable the personal firewall temporarily.\nAlso, make sure that "
     u"the PC is connected to the network, and\nIP Address and Default Gateway are correctly set "
     u"to the PC."},
    {u"ERROR_WINDOW", u"ERROR_ID_PASSWORD",
     u"Incorrect data entered.\nPlease check and re-enter the correct value."},
    {u"ERROR_WINDOW", u"ERROR_IP_ADDRESS",
     u"Unable to connect because of overlapping IP addresses.\nApply auto setup or manually set up "
     u"individual IP addresses."},
    {u"ERROR_WINDOW", u"ERROR_SEARCH",
     u"Could not find a camera.Please check the camera connection."},
    {u"ERROR_WINDOW", u"ERROR_SUBNET_MASK", u"Please confirm the \"SUBNET MASK\" setting\uFF0E"},
    {u"ERROR_WINDOW", u"ERROR_CONNECT", u"CONNECT ERROR!\nPlease make sure camera setup."},
    {u"ERROR_WINDOW", u"ERROR_IP", u"Invalid IP Address."},
    {u"ERROR_WINDOW", u"ERROR_OK", u"OK"},
};

const std::filesystem::path kNoLanguageIni = "/nonexistent/Language.ini";

std::vector<std::u16string> pairsOf(const LangTable& table) {
    std::vector<std::u16string> out;
    for (const LangEntry& e : table.entries()) out.push_back(e.section + u"/" + e.key);
    return out;
}

std::vector<std::u16string> goldenPairs(bool withSplashTitle) {
    std::vector<std::u16string> out;
    for (const GoldenRow& r : kMainList) {
        const std::u16string pair = std::u16string(r.section) + u"/" + r.key;
        if (withSplashTitle || pair != u"LOGO_WINDOW/SUB_TITLE") out.push_back(pair);
    }
    return out;
}

}  // namespace

TEST(DefaultTexts, EnglishMainListMatchesTheReferenceRowForRow) {
    ASSERT_EQ(std::size(kMainList), 102u);
    LangTable table;
    table.loadMain(kLangIdEnglish, kNoLanguageIni);
    ASSERT_EQ(table.count(), 102u);
    EXPECT_EQ(pairsOf(table), goldenPairs(true));
    for (const GoldenRow& r : kMainList) {
        const std::u16string text = table.lookup(r.section, r.key);
        if (r.english != nullptr) {
            EXPECT_EQ(text, r.english) << toUtf8(r.section) << "/" << toUtf8(r.key);
        } else {
            EXPECT_FALSE(text.empty()) << toUtf8(r.section) << "/" << toUtf8(r.key);
        }
    }
}

TEST(DefaultTexts, JapaneseLacksOnlyTheSplashTitleAndChineseHasEveryRow) {
    LangTable ja;
    ja.loadMain(kLangIdJapanese, kNoLanguageIni);
    EXPECT_EQ(ja.count(), 101u);
    EXPECT_EQ(pairsOf(ja), goldenPairs(false));
    LangTable zh;
    zh.loadMain(kLangIdChineseSimplified, kNoLanguageIni);
    EXPECT_EQ(zh.count(), 102u);
    EXPECT_EQ(pairsOf(zh), goldenPairs(true));
    for (const LangTable* t : {&ja, &zh})
        for (const LangEntry& e : t->entries()) EXPECT_FALSE(e.text.empty()) << toUtf8(e.key);
}

TEST(DefaultTexts, ApplicationListInEveryLanguage) {
    struct Expected {
        unsigned langId;
        const char16_t* warning;
    };
    const Expected languages[] = {
        {kLangIdJapanese, u"\u3059\u3067\u306B\u8D77\u52D5\u3057\u3066\u3044\u307E\u3059\u3002"},
        {kLangIdEnglish, u"Lanrove Setup utility is already running.\u3000"},
        {kLangIdChineseSimplified, u"Lanrove Setup utility \u5DF2\u7ECF\u542F\u52A8\u3002"},
    };
    for (const Expected& l : languages) {
        LangTable app;
        app.loadApplication(l.langId, kNoLanguageIni);
        const std::vector<std::u16string> pairs = {
            u"APP_WINDOW/ERROR_TITLE", u"APP_WINDOW/MULTISTART_WARNING", u"LOGO_WINDOW/SUB_TITLE"};
        EXPECT_EQ(pairsOf(app), pairs) << l.langId;
        EXPECT_EQ(app.lookup(u"APP_WINDOW", u"ERROR_TITLE"), u"LANROVE SETUP UTILITY");
        EXPECT_EQ(app.lookup(u"APP_WINDOW", u"MULTISTART_WARNING"), l.warning) << l.langId;
        EXPECT_EQ(app.lookup(u"LOGO_WINDOW", u"SUB_TITLE"), u"Lanrove Setup utility");
    }
}
