#pragma once
// The user's language, as a Windows language identifier derived from the POSIX locale, and the
// column of the text table that it selects.

#include <string>

namespace lanrove {

// Language columns of the built-in texts.
inline constexpr int kColumnJapanese = 0;
inline constexpr int kColumnEnglish = 1;
inline constexpr int kColumnChinese = 2;

inline constexpr unsigned kLangIdJapanese = 1041;
inline constexpr unsigned kLangIdEnglish = 1033;
inline constexpr unsigned kLangIdChineseSimplified = 2052;

// The locale variables that decide the language, in the order they take effect.
struct LocaleEnvironment {
    std::string lcAll;
    std::string lcMessages;
    std::string lang;

    static LocaleEnvironment current();  // from the process environment
};

// The first non-empty of LC_ALL, LC_MESSAGES and LANG decides: "ja" gives 1041; "zh" with the
// territory TW 1028, CN 2052, HK 3076, SG 4100, MO 5124, and "zh" alone 2052; anything else
// (including "C" and "POSIX") 1033.
unsigned langIdFromLocale(const LocaleEnvironment& env = LocaleEnvironment::current());

// 0 Japanese for 1041; 2 Chinese for 1028, 2052, 3076, 4100, 5124; 1 English otherwise.
int languageColumn(unsigned langId);

}  // namespace lanrove
