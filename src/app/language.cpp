#include "app/language.h"

#include <cstdlib>
#include <string_view>

#include "support/text.h"

namespace lanrove {

namespace {

std::string envValue(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr ? v : "";
}

}  // namespace

LocaleEnvironment LocaleEnvironment::current() {
    return {envValue("LC_ALL"), envValue("LC_MESSAGES"), envValue("LANG")};
}

unsigned langIdFromLocale(const LocaleEnvironment& env) {
    std::string_view locale = !env.lcAll.empty()        ? env.lcAll
                              : !env.lcMessages.empty() ? env.lcMessages
                                                        : env.lang;
    // language[_territory][.codeset][@modifier]
    locale = locale.substr(0, locale.find_first_of(".@"));
    const std::size_t sep = locale.find('_');
    const std::string_view language = locale.substr(0, sep);
    const std::string_view territory =
        sep == std::string_view::npos ? std::string_view{} : locale.substr(sep + 1);

    if (asciiEqualsNoCase(language, "ja")) return kLangIdJapanese;
    if (!asciiEqualsNoCase(language, "zh")) return kLangIdEnglish;
    if (territory.empty()) return kLangIdChineseSimplified;
    static constexpr struct {
        const char* territory;
        unsigned langId;
    } kChinese[] = {{"TW", 1028}, {"CN", 2052}, {"HK", 3076}, {"SG", 4100}, {"MO", 5124}};
    for (const auto& c : kChinese)
        if (asciiEqualsNoCase(territory, c.territory)) return c.langId;
    return kLangIdEnglish;
}

int languageColumn(unsigned langId) {
    switch (langId) {
        case 1041:
            return kColumnJapanese;
        case 1028:
        case 2052:
        case 3076:
        case 4100:
        case 5124:
            return kColumnChinese;
        default:
            return kColumnEnglish;
    }
}

}  // namespace lanrove
