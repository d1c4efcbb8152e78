#include "cli/commands.h"

#include <algorithm>

namespace lanrove::cli {

namespace {
std::vector<Command>& registry() {
    static std::vector<Command> commands;
    return commands;
}
}  // namespace

void registerCommand(const Command& command) {
    registry().push_back(command);
}

const Command* findCommand(const std::string& name) {
    for (const auto& c : registry())
        if (name == c.name) return &c;
    return nullptr;
}

void printUsage(std::FILE* out) {
    auto commands = registry();
    std::sort(commands.begin(), commands.end(),
              [](const Command& a, const Command& b) { return std::string(a.name) < b.name; });
    std::fprintf(out, "usage: lanrove-cli COMMAND [OPTIONS]\n\ncommands:\n");
    for (const auto& c : commands) std::fprintf(out, "  %s\n", c.synopsis);
}

}  // namespace lanrove::cli
