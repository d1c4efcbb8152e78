// lanrove-cli version: the program's own version as the desktop program shows it ("Ver.1.0.6"),
// then the four numbers ("1.0.6.1").
#include <cstdio>

#include "cli/commands.h"
#include "support/text.h"
#include "support/version_query.h"

namespace lanrove::cli {
namespace {

int run(Context& ctx) {
    if (!ctx.args.empty()) {
        std::fprintf(stderr, "usage: lanrove-cli version\n");
        return kExitUsage;
    }
    ModuleVersion version;
    if (!queryModuleVersion(currentModulePath(), version)) {
        std::fprintf(stderr, "lanrove-cli: the program's version could not be read\n");
        return kExitFailure;
    }
    std::printf("%s\n%s\n", toUtf8(version.display).c_str(), version.fourNumbers().c_str());
    return kExitOk;
}

CommandRegistration reg{{"version", "version  print the program's version", &run}};

}  // namespace
}  // namespace lanrove::cli
