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

std::size_t countOf(std::u16string_view text, std::u16string_view what) {
    std::size_t n = 0;
    for (auto p = text.find(what); p != std::u16string_view::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

LangTable loaded(int column, const std::string& languageIni = {}) {
    LangTable t;
    t.load(mainDefaults(column), ProfileFile::parse(languageIni));
    return t;
}

}  // namespace

TEST(LangTable, MainListsHoldEverySectionInOrder) {
    const DefaultList& en = mainDefaults(kColumnEnglish);
    ASSERT_EQ(en.size(), 103u);  // 102 texts and the end marker
    EXPECT_EQ(mainDefaults(kColumnChinese).size(), 103u);
    EXPECT_EQ(mainDefaults(kColumnJapanese).size(), 102u);
    EXPECT_EQ(en.back().section, u"NULL");
    EXPECT_EQ(en.back().key, u"NULL");
    EXPECT_EQ(en.back().text, u"NULL");

    std::vector<std::u16string> sections;
    std::size_t mainWindowRows = 0, firmupRows = 0;
    for (const auto& e : en) {
        if (sections.empty() || sections.back() != e.section) sections.push_back(e.section);
        mainWindowRows += e.section == u"MAIN_WINDOW";
        firmupRows += e.section == u"FIRMUP_WINDOW";
    }
    const std::vector<std::u16string> expected = {
        u"MAIN_WINDOW",    u"SEARCH_WINDOW",         u"AUTO_SETTING_WINDOW",
        u"LOGIN_WINDOW",   u"CUSTOM_SETTING_WINDOW", u"RESET_SETTING_WINDOW",
        u"SETTING_WINDOW", u"FIRMCHECK_WINDOW",      u"FIRMUP_WINDOW",
        u"LOGO_WINDOW",    u"ERROR_WINDOW",          u"NULL"};
    EXPECT_EQ(sections, expected);  // each section in one block, in storage order
    EXPECT_EQ(mainWindowRows, 24u);
    EXPECT_EQ(firmupRows, 23u);
    EXPECT_EQ(en.front().key, u"MAIN_TITLE");
    EXPECT_EQ(en[en.size() - 2].key, u"ERROR_OK");

    // Only SLEEP_MSG appears twice, and never twice in one section.
    const auto pairs = pairsOf(en);
    EXPECT_EQ(std::set<std::u16string>(pairs.begin(), pairs.end()).size(), pairs.size());

    // Same pairs in every column, except that Japanese has no LOGO_WINDOW/SUB_TITLE.
    EXPECT_EQ(pairsOf(mainDefaults(kColumnChinese)), pairs);
    auto withoutLogo = pairs;
    std::erase(withoutLogo, u"LOGO_WINDOW/SUB_TITLE");
    EXPECT_EQ(pairsOf(mainDefaults(kColumnJapanese)), withoutLogo);
}

TEST(LangTable, TranslationsKeepEveryTextAndItsPlaceholders) {
    const DefaultList& en = mainDefaults(kColumnEnglish);
    for (int column : {kColumnJapanese, kColumnChinese}) {
        for (const auto& e : mainDefaults(column)) {
            SCOPED_TRACE(toUtf8(e.section + u"/" + e.key));
            EXPECT_FALSE(e.text.empty());
            const auto ref = std::find_if(en.begin(), en.end(), [&](const LangEntry& r) {
                return r.section == e.section && r.key == e.key;
            });
            ASSERT_NE(ref, en.end());
            // Texts filled with numbers must take exactly the same numbers.
            EXPECT_EQ(countOf(e.text, u"%d"), countOf(ref->text, u"%d"));
            EXPECT_EQ(countOf(e.text, u"%"), countOf(ref->text, u"%"));
        }
    }
}

TEST(LangTable, EnglishTextsAsWritten) {
    const LangTable t = loaded(kColumnEnglish);
    EXPECT_EQ(t.count(), 102u);
    EXPECT_EQ(t.lookup(u"RESET_SETTING_WINDOW", u"WARNING_MSG"),
              u"CAUTION ! \nALL THE CAMERAS IN THE LIST WILL BE RESET TO\nHE FACTORY DEFAULT, "
              u"INCLUDING IP ADDRESS.\nAre you sure to reset ALL the cameras to the facotry "
              u"default ?");
    EXPECT_EQ(t.lookup(u"ERROR_WINDOW", u"ERROR_SUBNET_MASK"),
              u"Please confirm the \"SUBNET MASK\" setting\uFF0E");
    EXPECT_EQ(t.lookup(u"FIRMUP_WINDOW", u"FIRMUP_MSG03"), u"Transferring firmware.\n%d/%dbyte");
    EXPECT_EQ(t.lookup(u"LOGO_WINDOW", u"SUB_TITLE"), u"LANROVE SETUP UTILITY");
    EXPECT_EQ(t.text("ERROR_WINDOW", "ERROR_TITLE_ERROR"), "Err");
    EXPECT_EQ(t.text("MAIN_WINDOW", "MAIN_CAMERA_ATTENTION"), "CAUTION");

    LangTable app;
    app.load(applicationDefaults(kColumnEnglish), ProfileFile{});
    EXPECT_EQ(app.count(), 3u);
    EXPECT_EQ(app.lookup(u"APP_WINDOW", u"MULTISTART_WARNING"),
              u"Lanrove Setup utility is already running.\u3000");  // the ideographic space stays
}

TEST(LangTable, LookupNeedsKeyAndSectionExactly) {
    const LangTable t = loaded(kColumnEnglish,
                               "[firmcheck_window]\nSLEEP_MSG=Checking\\nfirmware\n"
                               "[ERROR_WINDOW]\nERROR_IP=Two\\nlines\\\\n\n");
    EXPECT_EQ(t.lookup(u"FIRMCHECK_WINDOW", u"SLEEP_MSG"), u"Checking\nfirmware");
    EXPECT_EQ(t.lookup(u"RESET_SETTING_WINDOW", u"SLEEP_MSG"), u"In progress...\nPlease wait.");
    EXPECT_EQ(t.lookup(u"SEARCH_WINDOW", u"SLEEP_MSG"), u"");
    EXPECT_EQ(t.lookup(u"firmcheck_window", u"SLEEP_MSG"), u"");  // stored names are exact
    EXPECT_EQ(t.lookup(u"FIRMCHECK_WINDOW", u"SLEEP_MSG "), u"");
    EXPECT_EQ(t.lookup(u"NULL", u"NULL"), u"");
    // Every backslash-n pair breaks the line; the stored text keeps the pair.
    EXPECT_EQ(t.lookup(u"ERROR_WINDOW", u"ERROR_IP"), u"Two\nlines\\\n");
    const auto stored = std::find_if(t.entries().begin(), t.entries().end(),
                                     [](const LangEntry& e) { return e.key == u"ERROR_IP"; });
    EXPECT_EQ(stored->text, u"Two\\nlines\\\\n");
    EXPECT_EQ(LangTable().lookup(u"ERROR_WINDOW", u"ERROR_IP"), u"");  // never loaded
    EXPECT_EQ(LangTable().count(), 0u);
}

TEST(LangTable, LanguageIniOverridesAreCutAndTheRestKeepDefaults) {
    test::TempDir dir;
    const std::string longText(600, 'x');
    const auto ini = dir.write("Language.ini",
                               "\xEF\xBB\xBF[MAIN_WINDOW]\r\nMAIN_TITLE = \"  My Title  \"\r\n"
                               "MAIN_CAMERA_NEW=\r\n[ERROR_WINDOW]\r\nERROR_SEARCH=" +
                                   longText + "\r\n[NULL]\r\nNULL=not a text\r\n");
    LangTable t;
    EXPECT_TRUE(t.load(mainDefaults(kColumnEnglish), ini));
    EXPECT_EQ(t.languageIniPath(), ini);
    EXPECT_EQ(t.lookup(u"MAIN_WINDOW", u"MAIN_TITLE"), u"  My Title  ");
    EXPECT_EQ(t.lookup(u"MAIN_WINDOW", u"MAIN_CAMERA_NEW"), u"");  // an empty override counts
    EXPECT_EQ(t.lookup(u"ERROR_WINDOW", u"ERROR_SEARCH"), std::u16string(511, u'x'));
    EXPECT_EQ(t.lookup(u"MAIN_WINDOW", u"MAIN_CAMERA_OK"), u"OK");
    EXPECT_EQ(t.count(), 102u);

    // A Japanese Language.ini saved by an ANSI editor (Shift_JIS) still reads.
    const auto sjis = dir.write("Language.ini", "[ERROR_WINDOW]\nERROR_OK=\x83\x4A\x83\x81\n");
    t.loadMain(kLangIdJapanese, sjis);
    EXPECT_EQ(t.lookup(u"ERROR_WINDOW", u"ERROR_OK"), u"\u30AB\u30E1");
}

TEST(LangTable, JapaneseMainTableHasNoSplashTitle) {
    test::TempDir dir;
    const auto ini = dir.path() / "Language.ini";  // missing: defaults only
    LangTable main;
    main.loadMain(kLangIdEnglish, ini);
    EXPECT_EQ(main.count(), 102u);
    main.loadMain(kLangIdJapanese, ini);  // a rebuild replaces the table
    EXPECT_EQ(main.count(), 101u);
    EXPECT_EQ(main.lookup(u"LOGO_WINDOW", u"SUB_TITLE"), u"");
    EXPECT_EQ(main.lookup(u"ERROR_WINDOW", u"ERROR_OK"), u"OK");
    EXPECT_EQ(main.lookup(u"SEARCH_WINDOW", u"SEARCH_CANCEL"), u"\u30AD\u30E3\u30F3\u30BB\u30EB");

    LangTable app;
    app.loadApplication(kLangIdJapanese, ini);
    EXPECT_EQ(app.lookup(u"LOGO_WINDOW", u"SUB_TITLE"), u"Lanrove Setup utility");
    EXPECT_EQ(app.text("APP_WINDOW", "MULTISTART_WARNING"),
              "\xE3\x81\x99\xE3\x81\xA7\xE3\x81\xAB\xE8\xB5\xB7\xE5\x8B\x95\xE3\x81\x97\xE3\x81\xA6"
              "\xE3\x81\x84\xE3\x81\xBE\xE3\x81\x99\xE3\x80\x82");

    app.loadApplication(1028, ini);  // Traditional Chinese uses the Chinese column
    EXPECT_EQ(app.text("APP_WINDOW", "MULTISTART_WARNING"),
              "Lanrove Setup utility \xE5\xB7\xB2\xE7\xBB\x8F\xE5\x90\xAF\xE5\x8A\xA8\xE3\x80\x82");
}

TEST(LangTable, NeverExceedsItsCapacityAndStopsAtTheEndMarker) {
    DefaultList big;
    for (int i = 0; i < 250; ++i) big.push_back({u"S", fromUtf8("K" + std::to_string(i)), u"t"});
    big.push_back({u"NULL", u"NULL", u"NULL"});
    LangTable t;
    EXPECT_FALSE(t.load(big, ProfileFile{}));
    EXPECT_EQ(t.count(), LangTable::kCapacity - 1);
    EXPECT_EQ(t.lookup(u"S", u"K198"), u"t");
    EXPECT_EQ(t.lookup(u"S", u"K199"), u"");

    // Loading stops at the marker's section; lookup stops at the first "NULL" key.
    const DefaultList odd = {{u"A", u"K1", u"one"},
                             {u"X", u"NULL", u"x"},
                             {u"B", u"K2", u"two"},
                             {u"NULL", u"NULL", u"NULL"},
                             {u"C", u"K3", u"three"}};
    EXPECT_TRUE(t.load(odd, ProfileFile{}));
    EXPECT_EQ(t.lookup(u"A", u"K1"), u"one");
    EXPECT_EQ(t.lookup(u"B", u"K2"), u"");
    EXPECT_EQ(t.lookup(u"C", u"K3"), u"");
    EXPECT_EQ(t.count(), 1u);

    // A list without its marker still gets one.
    EXPECT_TRUE(t.load({{u"A", u"K", u"v"}}, ProfileFile{}));
    EXPECT_EQ(t.lookup(u"A", u"K"), u"v");
}

TEST(LangTable, FormatCountsFillsOnlyNumbers) {
    EXPECT_EQ(formatCounts(u"Transferring firmware.\n%d/%dbyte", {1024, 4096}),
              u"Transferring firmware.\n1024/4096byte");
    EXPECT_EQ(formatCounts(u"STS=%d", {-2}), u"STS=-2");
    EXPECT_EQ(formatCounts(u"%lu of %u, %i", {1, 2, 3}), u"1 of 2, 3");
    // Edited texts cannot pull more arguments than given, nor other kinds.
    EXPECT_EQ(formatCounts(u"%s %n %d %d", {7}), u"%s %n 7 %d");
    EXPECT_EQ(formatCounts(u"100%% done %", {}), u"100% done %");
}
