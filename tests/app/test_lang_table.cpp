#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "app/lang_table.h"
#include "app/language.h"
#include "app/profile_file.h"
#include "app/temp_dir.h"
#include "support/text.h"

using namespace lanrove;

namespace {

std::vector<std::u16string> pairsOf(const DefaultList& list) {
    std::vector<std::u16string> out;
    for (const auto& e : list) out.push_back(e.section + u"/" + e.key);
    return out;
}

std::size_t percentSigns(std::u16string_view text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), u'%'));
}

}  // namespace

TEST(LangTable, MainListsHoldEverySectionInOrderInEveryLanguage) {
    const DefaultList& en = mainDefaults(kColumnEnglish);
    ASSERT_EQ(en.size(), 103u);  // 102 texts and the end marker
    EXPECT_EQ(pairsOf(en).back(), u"NULL/NULL");
    std::vector<std::u16string> sections;
    for (const auto& e : en)
        if (sections.empty() || sections.back() != e.section) sections.push_back(e.section);
    const std::vector<std::u16string> expected = {
        u"MAIN_WINDOW",    u"SEARCH_WINDOW",         u"AUTO_SETTING_WINDOW",
        u"LOGIN_WINDOW",   u"CUSTOM_SETTING_WINDOW", u"RESET_SETTING_WINDOW",
        u"SETTING_WINDOW", u"FIRMCHECK_WINDOW",      u"FIRMUP_WINDOW",
        u"LOGO_WINDOW",    u"ERROR_WINDOW",          u"NULL"};
    EXPECT_EQ(sections, expected);  // each section one block, in storage order
    const auto pairs = pairsOf(en);
    EXPECT_EQ(std::set<std::u16string>(pairs.begin(), pairs.end()).size(), pairs.size());

    // Same pairs in every column, except that Japanese has no LOGO_WINDOW/SUB_TITLE; every
    // translation is filled and takes the same printf numbers as the English text.
    EXPECT_EQ(pairsOf(mainDefaults(kColumnChinese)), pairs);
    auto withoutLogo = pairs;
    std::erase(withoutLogo, u"LOGO_WINDOW/SUB_TITLE");
    EXPECT_EQ(pairsOf(mainDefaults(kColumnJapanese)), withoutLogo);
    for (int column : {kColumnJapanese, kColumnChinese}) {
        for (const auto& e : mainDefaults(column)) {
            const auto ref = std::find_if(en.begin(), en.end(), [&](const LangEntry& r) {
                return r.section == e.section && r.key == e.key;
            });
            EXPECT_FALSE(e.text.empty()) << toUtf8(e.key);
            EXPECT_EQ(percentSigns(e.text), percentSigns(ref->text)) << toUtf8(e.key);
        }
    }
}

TEST(LangTable, LookupNeedsKeyAndSectionExactlyAndBreaksLines) {
    LangTable t;
    t.load(mainDefaults(kColumnEnglish),
           ProfileFile::parse("[firmcheck_window]\nSLEEP_MSG=Checking\\nfirmware\n"
                              "[ERROR_WINDOW]\nERROR_IP=Two\\nlines\\\\n\n"));
    EXPECT_EQ(t.count(), 102u);
    EXPECT_EQ(t.lookup(u"FIRMCHECK_WINDOW", u"SLEEP_MSG"), u"Checking\nfirmware");
    EXPECT_EQ(t.lookup(u"RESET_SETTING_WINDOW", u"SLEEP_MSG"), u"In progress...\nPlease wait.");
    EXPECT_EQ(t.lookup(u"SEARCH_WINDOW", u"SLEEP_MSG"), u"");
    EXPECT_EQ(t.lookup(u"firmcheck_window", u"SLEEP_MSG"), u"");  // stored names are exact
    EXPECT_EQ(t.lookup(u"NULL", u"NULL"), u"");
    // Every backslash-n pair breaks the line; the stored text keeps the pairs.
    EXPECT_EQ(t.lookup(u"ERROR_WINDOW", u"ERROR_IP"), u"Two\nlines\\\n");
    EXPECT_EQ(t.entries()[100].text, u"Two\\nlines\\\\n");
    EXPECT_EQ(t.text("ERROR_WINDOW", "ERROR_SUBNET_MASK"),
              "Please confirm the \"SUBNET MASK\" setting\xEF\xBC\x8E");
    EXPECT_EQ(LangTable().lookup(u"ERROR_WINDOW", u"ERROR_IP"), u"");  // never loaded
}

TEST(LangTable, LanguageIniOverridesAreCutAndTheRestKeepDefaults) {
    test::TempDir dir;
    const auto ini = dir.write("Language.ini",
                               "\xEF\xBB\xBF[MAIN_WINDOW]\r\nMAIN_TITLE = \"  Mine  \"\r\n"
                               "MAIN_CAMERA_NEW=\r\n[ERROR_WINDOW]\r\nERROR_SEARCH=" +
                                   std::string(600, 'x') + "\r\n");
    LangTable t;
    EXPECT_TRUE(t.load(mainDefaults(kColumnEnglish), ini));
    EXPECT_EQ(t.languageIniPath(), ini);
    EXPECT_EQ(t.lookup(u"MAIN_WINDOW", u"MAIN_TITLE"), u"  Mine  ");
    EXPECT_EQ(t.lookup(u"MAIN_WINDOW", u"MAIN_CAMERA_NEW"), u"");  // an empty override counts
    EXPECT_EQ(t.lookup(u"ERROR_WINDOW", u"ERROR_SEARCH"), std::u16string(511, u'x'));
    EXPECT_EQ(t.lookup(u"MAIN_WINDOW", u"MAIN_CAMERA_ATTENTION"), u"CAUTION");

    // A Japanese Language.ini saved by an ANSI editor (Shift_JIS) still reads.
    t.loadMain(kLangIdJapanese, dir.write("Language.ini", "[ERROR_WINDOW]\nERROR_OK=\x83\x4A\n"));
    EXPECT_EQ(t.lookup(u"ERROR_WINDOW", u"ERROR_OK"), u"\u30AB");
}

TEST(LangTable, JapaneseMainTableHasNoSplashTitleButTheApplicationListHas) {
    test::TempDir dir;
    const auto ini = dir.path() / "Language.ini";  // missing: defaults only
    LangTable main;
    main.loadMain(kLangIdEnglish, ini);
    main.loadMain(kLangIdJapanese, ini);  // a rebuild replaces the table
    EXPECT_EQ(main.count(), 101u);
    EXPECT_EQ(main.lookup(u"LOGO_WINDOW", u"SUB_TITLE"), u"");
    EXPECT_EQ(main.lookup(u"SEARCH_WINDOW", u"SEARCH_CANCEL"), u"\u30AD\u30E3\u30F3\u30BB\u30EB");

    LangTable app;
    app.loadApplication(kLangIdJapanese, ini);
    EXPECT_EQ(app.count(), 3u);
    EXPECT_EQ(app.lookup(u"LOGO_WINDOW", u"SUB_TITLE"), u"Lanrove Setup utility");
    app.loadApplication(kLangIdEnglish, ini);
    EXPECT_EQ(app.lookup(u"APP_WINDOW", u"MULTISTART_WARNING"),
              u"Lanrove Setup utility is already running.\u3000");
    app.loadApplication(1028, ini);  // Traditional Chinese takes the Chinese column
    EXPECT_EQ(app.lookup(u"APP_WINDOW", u"MULTISTART_WARNING"),
              u"Lanrove Setup utility \u5DF2\u7ECF\u542F\u52A8\u3002");
}

TEST(LangTable, NeverExceedsItsCapacityAndStopsAtTheEndMarker) {
    DefaultList big;
    for (int i = 0; i < 250; ++i) big.push_back({u"S", fromUtf8("K" + std::to_string(i)), u"t"});
    LangTable t;
    EXPECT_FALSE(t.load(big, ProfileFile{}));
    EXPECT_EQ(t.count(), LangTable::kCapacity - 1);
    EXPECT_EQ(t.lookup(u"S", u"K198"), u"t");
    EXPECT_EQ(t.lookup(u"S", u"K199"), u"");
    // Loading stops at the marker's section; lookup stops at the first "NULL" key.
    EXPECT_TRUE(t.load({{u"A", u"K1", u"one"},
                        {u"X", u"NULL", u"x"},
                        {u"B", u"K2", u"two"},
                        {u"NULL", u"NULL", u"NULL"},
                        {u"C", u"K3", u"three"}},
                       ProfileFile{}));
    EXPECT_EQ(t.lookup(u"A", u"K1"), u"one");
    EXPECT_EQ(t.lookup(u"B", u"K2"), u"");
    EXPECT_EQ(t.lookup(u"C", u"K3"), u"");
}

TEST(LangTable, FormatCountsFillsOnlyNumbers) {
    EXPECT_EQ(formatCounts(u"Transferring firmware.\n%d/%dbyte", {1024, 4096}),
              u"Transferring firmware.\n1024/4096byte");
    EXPECT_EQ(formatCounts(u"%lu of %u, STS=%i", {1, 2, -3}), u"1 of 2, STS=-3");
    // Edited texts cannot pull more arguments than given, nor other kinds.
    EXPECT_EQ(formatCounts(u"%s %n %d %d", {7}), u"%s %n 7 %d");
    EXPECT_EQ(formatCounts(u"100%% done %", {}), u"100% done %");
}

TEST(LangTable, AddedTextsInEveryLanguageBesideTheMainList) {
    // Every added text exists in all three columns under the same keys, and differs from the
    // English one wherever the language has its own words.
    const DefaultList& en = addedDefaults(kColumnEnglish);
    for (const int column : {kColumnJapanese, kColumnChinese}) {
        const DefaultList& other = addedDefaults(column);
        ASSERT_EQ(other.size(), en.size());
        for (std::size_t i = 0; i < en.size(); ++i) {
            EXPECT_EQ(other[i].section, en[i].section);
            EXPECT_EQ(other[i].key, en[i].key);
            EXPECT_FALSE(other[i].text.empty());
            // Only words that every language writes alike may stay as in English.
            const std::u16string& t = en[i].text;
            const bool universal = t == u"OK" || t == u"SSL" || t == u"No." || t == u"NULL";
            if (!universal) {
                EXPECT_NE(other[i].text, t) << column << " " << toUtf8(en[i].key);
            }
        }
    }

    test::TempDir dir;
    const auto ini = dir.write("Language.ini", "[DOCTOR_WINDOW]\nDIAGNOSE=Check it\n");
    LangTable t;
    t.loadMain(kLangIdJapanese, ini);
    const std::size_t mainCount = t.count();
    t.loadAdded(kLangIdJapanese, ini);
    // The main list is as it was; the added texts come after it and obey Language.ini.
    EXPECT_EQ(t.count(), mainCount);
    EXPECT_EQ(t.lookup(u"DOCTOR_WINDOW", u"DIAGNOSE"), u"Check it");
    EXPECT_EQ(t.lookup(u"DOCTOR_WINDOW", u"SAVE_REPORT"), u"レポートを保存...");
    EXPECT_EQ(t.lookup(u"PLAN_WINDOW", u"PLAN_BAD_FILE"),
              u"このアドレスプランは使用できません:\n%1");
    EXPECT_EQ(t.lookup(u"MAIN_WINDOW", u"MAIN_CAMERA_SEARCH"), u"カメラ検索");
    // Loading the main list again keeps them.
    t.loadMain(kLangIdChineseSimplified, ini);
    EXPECT_EQ(t.lookup(u"DOCTOR_WINDOW", u"SAVE_REPORT"), u"レポートを保存...");
}
