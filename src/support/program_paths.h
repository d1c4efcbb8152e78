#pragma once
// Where the program keeps its files: the settings INI, "Language.ini", the IPLog folder and the
// firmware folders live in the program folder, which is the executable's folder unless
// LANROVE_HOME or a --home option names another one. An installed copy (under /usr, /usr/local
// or /opt, or in a folder the user may not write) keeps them in the user's data folder
// instead, whoever runs it: root running an installed copy never writes into system folders.

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
    // user may write there) and it is no system folder, else userDataFolder(), created (0700)
    // if missing; there even when it cannot be made, for a system folder (the logs stay off).
    // `exeFolder` when no data folder is known at all.
    static std::filesystem::path folderFor(const std::filesystem::path& exeFolder, bool writable);
    // True for /usr, /opt and every folder below them (an installed program's folders).
    static bool isSystemFolder(const std::filesystem::path& folder);
    std::filesystem::path settingsIni() const { return folder / (exeBaseName + ".ini"); }
    std::filesystem::path languageIni() const { return folder / "Language.ini"; }
};

}  // namespace lanrove
