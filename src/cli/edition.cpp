#include "cli/edition.h"

#include <cstdio>
#include <filesystem>
#include <string>

#include "app/setup_core.h"

namespace lanrove::cli {

bool maintenanceEdition(const char* argv0) {
    if (argv0 == nullptr) return false;
    return isMaintenanceEdition(std::filesystem::path(argv0).stem().string());
}

bool requireMaintenanceEdition(const char* argv0, const char* command) {
    if (maintenanceEdition(argv0)) return true;
    std::fprintf(stderr,
                 "lanrove-cli: %s belongs to the maintenance edition; run the tool under a name "
                 "that contains _FWTOOL (for example a link named lanrove-cli_fwtool)\n",
                 command);
    return false;
}

}  // namespace lanrove::cli
