// lanrove-cli: the core as a scriptable command-line tool.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/edition.h"

int main(int argc, char** argv) {
    using namespace lanrove::cli;
    const bool maintenance = maintenanceEdition(argv[0]);
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "help") == 0) {
        printUsage(stderr, maintenance);
        return argc < 2 ? kExitUsage : 0;
    }
    const Command* cmd = findCommand(argv[1]);
    if (cmd == nullptr) {
        cmd = findMaintenanceCommand(argv[1]);
        if (cmd != nullptr && !requireMaintenanceEdition(argv[0], argv[1])) return kExitUsage;
    }
    if (cmd == nullptr) {
        std::fprintf(stderr, "lanrove-cli: unknown command '%s'\n", argv[1]);
        printUsage(stderr, maintenance);
        return kExitUsage;
    }
    std::vector<std::string> args(argv + 2, argv + argc);
    Context ctx{argv[0], args};
    return cmd->run(ctx);
}
