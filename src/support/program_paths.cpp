#include "support/program_paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

namespace lanrove {

namespace {

constexpr const char* kDataFolderName = "lanrove-setup";

// Only absolute values count, as the base directory rules say.
const char* absoluteEnv(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] == '/' ? value : nullptr;
}

}  // namespace

std::filesystem::path ProgramPaths::userDataFolder() {
    if (const char* data = absoluteEnv("XDG_DATA_HOME"))
        return std::filesystem::path(data) / kDataFolderName;
    std::filesystem::path home;
    if (const char* env = absoluteEnv("HOME")) {
        home = env;
    } else if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
        home = pw->pw_dir;
    }
    if (home.empty()) return {};
    return home / ".local" / "share" / kDataFolderName;
}

ProgramPaths ProgramPaths::resolve(const char* argv0, const std::string& home) {
    ProgramPaths p;
    const std::filesystem::path arg = argv0 != nullptr ? argv0 : "lanrove";
    p.exeFileName = arg.filename().string();
    p.exeBaseName = arg.stem().string();
    if (!home.empty()) {
        p.folder = home;
    } else if (const char* env = std::getenv("LANROVE_HOME"); env != nullptr && *env != '\0') {
        p.folder = env;
    } else {
        std::error_code ec;
        const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
        p.folder = ec ? std::filesystem::absolute(arg, ec).parent_path() : exe.parent_path();
        p.folder = folderFor(p.folder, ::access(p.folder.c_str(), W_OK) == 0);
    }
    return p;
}

bool ProgramPaths::isSystemFolder(const std::filesystem::path& folder) {
    const std::filesystem::path plain = folder.lexically_normal();
    for (const char* prefix : {"/usr", "/opt"}) {
        const std::filesystem::path rel = plain.lexically_relative(prefix);
        if (!rel.empty() && *rel.begin() != "..") return true;
    }
    return false;
}

std::filesystem::path ProgramPaths::folderFor(const std::filesystem::path& exeFolder,
                                              bool writable) {
    // Installed under /usr/bin: the settings, texts and logs go to the user's own folder, also
    // for root, who may write anywhere.
    const bool system = isSystemFolder(exeFolder);
    if (writable && !system) return exeFolder;
    const std::filesystem::path data = userDataFolder();
    if (data.empty()) return exeFolder;
    std::error_code ec;
    std::filesystem::create_directories(data.parent_path(), ec);
    ::mkdir(data.c_str(), 0700);  // private: it holds the logs and the journal
    if (std::filesystem::is_directory(data, ec) || system) return data;
    return exeFolder;
}

}  // namespace lanrove
