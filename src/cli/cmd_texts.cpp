// lanrove-cli texts: prints the effective text table (built-in texts after the Language.ini
// overrides of the program folder), so that translators can check their Language.ini.
#include <cstdio>
#include <optional>
#include <string>

#include "app/lang_table.h"
#include "app/language.h"
#include "cli/commands.h"
#include "support/program_paths.h"
#include "support/text.h"

namespace lanrove::cli {

namespace {

constexpr const char* kUsage = "usage: lanrove-cli texts [--lang ja|en|zh] [--app] [--home DIR]\n";

std::optional<unsigned> langIdFromOption(const std::string& value) {
    if (value == "ja") return kLangIdJapanese;
    if (value == "en") return kLangIdEnglish;
    if (value == "zh") return kLangIdChineseSimplified;
    return std::nullopt;
}

// One entry a line; a line break inside a text is shown as the two characters backslash, n.
std::string formatEntry(const LangEntry& e) {
    std::string text = toUtf8(LangTable::expandLineBreaks(e.text));
    std::string shown;
    shown.reserve(text.size());
    for (char c : text) {
        if (c == '\n')
            shown += "\\n";
        else
            shown += c;
    }
    return toUtf8(e.section) + "/" + toUtf8(e.key) + "\t" + shown + "\n";
}

int usageError(const char* what, const std::string& arg) {
    std::fprintf(stderr, "lanrove-cli texts: %s '%s'\n%s", what, arg.c_str(), kUsage);
    return kExitUsage;
}

int run(Context& ctx) {
    std::optional<unsigned> langId;
    bool appList = false;
    std::string home;
    const auto& args = ctx.args;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return kExitOk;
        }
        if (a == "--app") {
            appList = true;
        } else if (a == "--lang" || a == "--home") {
            if (i + 1 >= args.size()) return usageError("missing value for", a);
            const std::string& value = args[++i];
            if (a == "--home") {
                home = value;
            } else if (!(langId = langIdFromOption(value))) {
                return usageError("unknown language", value);
            }
        } else {
            return usageError("unknown option", a);
        }
    }

    const ProgramPaths paths = ProgramPaths::resolve(ctx.argv0, home);
    const unsigned id = langId.value_or(langIdFromLocale());
    LangTable table;
    if (appList)
        table.loadApplication(id, paths.languageIni());
    else
        table.loadMain(id, paths.languageIni());

    for (const LangEntry& e : table.entries()) {
        const std::string line = formatEntry(e);
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "lanrove-cli texts: cannot write the output\n");
        return kExitFailure;
    }
    return kExitOk;
}

CommandRegistration reg{{"texts",
                         "texts [--lang ja|en|zh] [--app] [--home DIR]  print the text table "
                         "after the Language.ini overrides",
                         &run}};

}  // namespace

}  // namespace lanrove::cli
