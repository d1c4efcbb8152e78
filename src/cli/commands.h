#pragma once
// Command registry of lanrove-cli: each command file registers itself with a static
// CommandRegistration, so commands are added without touching a shared list.

#include <cstdio>
#include <string>
#include <vector>

namespace lanrove::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

struct Context {
    const char* argv0;
    std::vector<std::string> args;  // arguments after the command name
};

struct Command {
    const char* name;
    const char* synopsis;  // one usage line, shown by --help
    int (*run)(Context&);
};

void registerCommand(const Command& command);
// Commands of the maintenance edition only (see edition.h): listed and run there alone.
void registerMaintenanceCommand(const Command& command);
const Command* findCommand(const std::string& name);
const Command* findMaintenanceCommand(const std::string& name);
void printUsage(std::FILE* out, bool maintenance = false);

struct CommandRegistration {
    explicit CommandRegistration(const Command& command) { registerCommand(command); }
};
struct MaintenanceCommandRegistration {
    explicit MaintenanceCommandRegistration(const Command& command) {
        registerMaintenanceCommand(command);
    }
};

}  // namespace lanrove::cli
