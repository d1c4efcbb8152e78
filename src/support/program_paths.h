#pragma once
// Where the program keeps its files: the settings INI, "Language.ini", the IPLog folder and the
// firmware folders live in the program folder, which is the executable's folder unless
// LANROVE_HOME or a --home option names another one.

#include <filesystem>
#include <string>

namespace lanrove {

struct ProgramPaths {
    std::filesystem::path folder;  // the program folder
    std::string exeBaseName;       // argv[0]'s base name without extension ("lanrove-setup")
    std::string exeFileName;       // argv[0]'s base name with extension, as typed (symlink kept)

    // `home` overrides everything when not empty; else LANROVE_HOME; else the executable's
    // folder (from /proc/self/exe, since argv[0] may carry no folder at all).
    static ProgramPaths resolve(const char* argv0, const std::string& home = {});
    std::filesystem::path settingsIni() const { return folder / (exeBaseName + ".ini"); }
    std::filesystem::path languageIni() const { return folder / "Language.ini"; }
};

}  // namespace lanrove
