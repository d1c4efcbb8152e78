#include <gtest/gtest.h>

#include "app/language.h"

using namespace lanrove;

TEST(Language, LocaleGivesTheWindowsLanguageId) {
    const struct {
        const char* locale;
        unsigned langId;
    } cases[] = {
        {"ja_JP.UTF-8", 1041},
        {"ja", 1041},
        {"ja_JP.eucJP@x", 1041},
        {"zh_TW.UTF-8", 1028},
        {"zh_CN.GB18030", 2052},
        {"zh_HK", 3076},
        {"zh_SG.UTF-8", 4100},
        {"zh_MO", 5124},
        {"zh", 2052},
        {"zh.UTF-8", 2052},
        {"zh_tw", 1028},
        {"zh_US", 1033},
        {"C", 1033},
        {"POSIX", 1033},
        {"C.UTF-8", 1033},
        {"en_US.UTF-8", 1033},
        {"ko_KR", 1033},
        {"", 1033},
        {"jam_JM", 1033},
        {"zha_CN", 1033},  // a longer language code is another language
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.locale);
        EXPECT_EQ(langIdFromLocale({c.locale, "", ""}), c.langId);
        EXPECT_EQ(langIdFromLocale({"", "", c.locale}), c.langId);
    }
}

TEST(Language, FirstNonEmptyVariableWins) {
    EXPECT_EQ(langIdFromLocale({"", "ja_JP.UTF-8", "zh_CN.UTF-8"}), 1041u);
    EXPECT_EQ(langIdFromLocale({"en_US.UTF-8", "ja_JP.UTF-8", "zh_CN.UTF-8"}), 1033u);
    EXPECT_EQ(langIdFromLocale({"", "", "zh_TW.UTF-8"}), 1028u);
    EXPECT_EQ(langIdFromLocale({"C", "", "ja_JP.UTF-8"}), 1033u);
}

TEST(Language, ColumnFromLanguageId) {
    EXPECT_EQ(languageColumn(1041), kColumnJapanese);
    for (unsigned id : {1028u, 2052u, 3076u, 4100u, 5124u}) EXPECT_EQ(languageColumn(id), 2) << id;
    // Neutral Chinese, Korean, British English and nonsense: English.
    for (unsigned id : {1033u, 0u, 4u, 1042u, 2057u, 0x7804u, 0xFFFFu})
        EXPECT_EQ(languageColumn(id), kColumnEnglish) << id;
}
