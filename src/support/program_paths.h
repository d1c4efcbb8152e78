#pragma once
// Where the program keeps its files: the settings INI, "Language.ini", the IPLog folder and the
// firmware folders live in the program folder, which is the executable's folder unless
// LANROVE_HOME or a --home option names another one. An installed copy (its folder not
// writable by the user) keeps them in the user's data folder instead.

#include <filesystem>
#include <string>

namespace lanrove {

struct ProgramPaths {
    std::filesystem::path folder;  // the program folder
    std::string exeBaseName;       // argv[0]'s base name without extension ("lanrove-setup")
    std::string exeFileName;       // argv[0]'s base name with extension, as typed (symlink kept)

    // `home` overrides everything when not empty; else LANROVE_HOME; else the executable's
    // folder (from /proc/self/exe, since argv[0] may carry no folder at all) when this user may
    // write there; else userDataFolder(), created if missing.
    static ProgramPaths resolve(const char* argv0, const std::string& home = {});
    // $XDG_DATA_HOME/lanrove-setup, or ~/.local/share/lanrove-setup ($HOME, else the
    // password entry's home); empty when neither is known.
    static std::filesystem::path userDataFolder();
    // The program folder for an executable in `exeFolder`: that folder when `writable` (this
    // user may write there), else userDataFolder(), created if missing; `exeFolder` when that
    // cannot be made.
    static std::filesystem::path folderFor(const std::filesystem::path& exeFolder, bool writable);
    std::filesystem::path settingsIni() const { return folder / (exeBaseName + ".ini"); }
    std::filesystem::path languageIni() const { return folder / "Language.ini"; }
};

}  // namespace lanrove
