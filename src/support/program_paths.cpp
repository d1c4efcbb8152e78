#include "support/program_paths.h"

#include <cstdlib>
#include <system_error>

namespace lanrove {

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
    }
    return p;
}

}  // namespace lanrove
