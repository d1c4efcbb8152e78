#pragma once
// Command registry of lanrove-cli: each command file registers itself with a static
// CommandRegistration, so commands are added without touching a shared list. A command adds
// its options to its own CLI11 sub-application and returns what runs it once they are parsed.

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace lanrove::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// Runs a command whose options have been parsed; returns its exit code.
using Runner = std::function<int()>;

struct Command {
    const char* name;
    const char* summary;  // one line in the command list and at the top of --help
    // The command's own exit codes beyond 0 and 2, one "N  meaning" per line; shown by --help.
    const char* exitCodes;
    // Adds the command's options to `app` (bound to state the returned runner owns).
    Runner (*define)(CLI::App& app, const char* argv0);
};

void registerCommand(const Command& command);
// Commands of the maintenance edition only (see edition.h): listed and run there alone.
void registerMaintenanceCommand(const Command& command);
const Command* findCommand(const std::string& name);
const Command* findMaintenanceCommand(const std::string& name);
// The commands of the edition, sorted by name.
std::vector<Command> editionCommands(bool maintenance);

struct CommandRegistration {
    explicit CommandRegistration(const Command& command) { registerCommand(command); }
};
struct MaintenanceCommandRegistration {
    explicit MaintenanceCommandRegistration(const Command& command) {
        registerMaintenanceCommand(command);
    }
};

// Parses `argv` and runs the chosen command; the tool's whole life after the edition check.
int runCommandLine(int argc, char** argv);

}  // namespace lanrove::cli
