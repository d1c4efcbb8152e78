#include "cli/commands.h"

#include <algorithm>

namespace lanrove::cli {

namespace {
std::vector<Command>& registry() {
    static std::vector<Command> commands;
    return commands;
}
std::vector<Command>& maintenanceRegistry() {
    static std::vector<Command> commands;
    return commands;
}
const Command* find(const std::vector<Command>& commands, const std::string& name) {
    for (const auto& c : commands)
        if (name == c.name) return &c;
    return nullptr;
}
}  // namespace

void registerCommand(const Command& command) {
    registry().push_back(command);
}

void registerMaintenanceCommand(const Command& command) {
    maintenanceRegistry().push_back(command);
}

const Command* findCommand(const std::string& name) {
    return find(registry(), name);
}

const Command* findMaintenanceCommand(const std::string& name) {
    return find(maintenanceRegistry(), name);
}

void printUsage(std::FILE* out, bool maintenance) {
    auto commands = registry();
    if (maintenance)
        commands.insert(commands.end(), maintenanceRegistry().begin(), maintenanceRegistry().end());
    std::sort(commands.begin(), commands.end(),
              [](const Command& a, const Command& b) { return std::string(a.name) < b.name; });
    std::fprintf(out, "usage: lanrove-cli COMMAND [OPTIONS]\n\ncommands:\n");
    for (const auto& c : commands) std::fprintf(out, "  %s\n", c.synopsis);
}

}  // namespace lanrove::cli
