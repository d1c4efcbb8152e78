// lanrove-cli texts: prints the effective text table (built-in texts after the Language.ini
// overrides of the program folder), so that translators can check their Language.ini.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "app/lang_table.h"
#include "app/language.h"
#include "cli/commands.h"
#include "cli/options.h"
#include "support/program_paths.h"
#include "support/text.h"

namespace lanrove::cli {

namespace {

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

struct TextsOptions {
    std::string lang;  // empty: the locale decides
    bool appList = false;
    bool addedList = false;
    std::string home;
};

int run(const TextsOptions& o, const char* argv0) {
    const ProgramPaths paths = ProgramPaths::resolve(argv0, o.home);
    const unsigned id = langIdFromOption(o.lang).value_or(langIdFromLocale());
    LangTable table;
    if (o.appList)
        table.loadApplication(id, paths.languageIni());
    else if (o.addedList)
        table.load(addedDefaults(languageColumn(id)), paths.languageIni(), codePageForLangId(id));
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

Runner define(CLI::App& app, const char* argv0) {
    auto o = std::make_shared<TextsOptions>();
    app.add_option("--lang", o->lang, "language of the table (default: from the locale)")
        ->type_name("ja|en|zh")
        ->check(CLI::IsMember({"ja", "en", "zh"}).description(""));
    auto* appList =
        app.add_flag("--app", o->appList, "the start-up texts instead of the main table");
    app.add_flag("--added", o->addedList,
                 "the texts of the added menus and windows (address plans, list export, doctor, "
                 "report) instead of the main table")
        ->excludes(appList);
    addHome(app, o->home)->type_name("DIR");
    return [o, argv0] { return run(*o, argv0); };
}

const CommandRegistration reg{{"texts", "print a text table after the Language.ini overrides",
                               "1  the output could not be written", &define}};

}  // namespace

}  // namespace lanrove::cli
