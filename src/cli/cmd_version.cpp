// lanrove-cli version: the program's own version as the desktop program shows it ("Ver.1.0.6"),
// then the four numbers ("1.0.6.1").
#include <CLI/CLI.hpp>
#include <cstdio>

#include "cli/commands.h"
#include "support/text.h"
#include "support/version_query.h"

namespace lanrove::cli {
namespace {

int run() {
    ModuleVersion version;
    if (!queryModuleVersion(currentModulePath(), version)) {
        std::fprintf(stderr, "lanrove-cli: the program's version could not be read\n");
        return kExitFailure;
    }
    std::printf("%s\n%s\n", toUtf8(version.display).c_str(), version.fourNumbers().c_str());
    return kExitOk;
}

Runner define(CLI::App& /*app*/, const char* /*argv0*/) {
    return &run;
}

const CommandRegistration reg{{"version",
                               "print the program's version as the desktop program shows it, "
                               "then its four numbers",
                               "1  the version could not be read from the program file", &define}};

}  // namespace
}  // namespace lanrove::cli
