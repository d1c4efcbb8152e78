#include <gtest/gtest.h>

#include "app/language.h"

using namespace lanrove;

TEST(Language, LocaleGivesTheWindowsLanguageId) {
    const struct {
        const char* locale;
        unsigned langId;
    } cases[] = {{"ja_JP.UTF-8", 1041},   {"ja", 1041},    {"zh_TW.UTF-8", 1028},
                 {"zh_CN.GB18030", 2052}, {"zh_HK", 3076}, {"zh_SG@x", 4100},
                 {"zh_MO", 5124},         {"zh", 2052},    {"zh_US", 1033},
                 {"C.UTF-8", 1033},       {"", 1033},      {"jam_JM", 1033}};
    for (const auto& c : cases) {
        EXPECT_EQ(langIdFromLocale({c.locale, "", ""}), c.langId) << c.locale;
        EXPECT_EQ(langIdFromLocale({"", "", c.locale}), c.langId) << c.locale;
    }
    // The first non-empty of LC_ALL, LC_MESSAGES, LANG wins.
    EXPECT_EQ(langIdFromLocale({"", "ja_JP.UTF-8", "zh_CN.UTF-8"}), 1041u);
    EXPECT_EQ(langIdFromLocale({"C", "ja_JP.UTF-8", "zh_CN.UTF-8"}), 1033u);
}

TEST(Language, ColumnFromLanguageId) {
    EXPECT_EQ(languageColumn(1041), kColumnJapanese);
    for (unsigned id : {1028u, 2052u, 3076u, 4100u, 5124u}) EXPECT_EQ(languageColumn(id), 2) << id;
    for (unsigned id : {1033u, 0u, 1042u, 0x7804u}) EXPECT_EQ(languageColumn(id), 1) << id;
}
