#include "cli/commands.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <map>

#include "cli/edition.h"
#include "support/clock.h"
#include "support/text.h"
#include "support/version_query.h"

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

std::vector<Command> edition(bool maintenance) {
    auto commands = registry();
    if (maintenance)
        commands.insert(commands.end(), maintenanceRegistry().begin(), maintenanceRegistry().end());
    std::sort(commands.begin(), commands.end(),
              [](const Command& a, const Command& b) { return std::string(a.name) < b.name; });
    return commands;
}

std::string versionText() {
    ModuleVersion version;
    if (!queryModuleVersion(currentModulePath(), version)) return "lanrove-cli (version unknown)";
    return "lanrove-cli " + version.fourNumbers();
}

std::string exitCodesFooter(const char* own) {
    // The command's own codes go in numeric order around the shared 0 and 2.
    std::vector<std::pair<long, std::string>> lines = {
        {0, "0  success"}, {2, "2  bad command line: unknown option, missing or malformed value"}};
    std::string_view rest = own != nullptr ? own : "";
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        const std::string line(rest.substr(0, end));
        if (!line.empty()) lines.emplace_back(std::strtol(line.c_str(), nullptr, 10), line);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    std::stable_sort(lines.begin(), lines.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::string text = "Exit codes:";
    for (const auto& line : lines) text += "\n  " + line.second;
    return text;
}

// One line for an argument nobody took.
std::string extraMessage(const std::string& arg) {
    if (arg.size() > 1 && arg[0] == '-') return "unknown option '" + arg + "'";
    return "unexpected argument '" + arg + "'";
}

std::string commandPrefix(const CLI::App& app) {
    const auto chosen = app.get_subcommands();
    return chosen.empty() ? std::string("lanrove-cli")
                          : "lanrove-cli " + chosen.front()->get_name();
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

std::vector<Command> editionCommands(bool maintenance) {
    return edition(maintenance);
}

int runCommandLine(int argc, char** argv) {
    const bool maintenance = maintenanceEdition(argv[0]);
    CLI::App app("Finds the network cameras on the LAN, lists them and sets them up.",
                 "lanrove-cli");
    app.set_version_flag("--version", [] { return versionText(); });
    app.require_subcommand(0, 1);
    app.footer("Run 'lanrove-cli COMMAND --help' for a command's options and exit codes.");
    app.get_formatter()->column_width(34);

    std::map<const CLI::App*, Runner> runners;
    for (const Command& r : edition(maintenance)) {
        CLI::App* sub = app.add_subcommand(r.name, r.summary);
        sub->allow_extras();  // reported below as one line naming the argument
        sub->footer(exitCodesFooter(r.exitCodes));
        runners[sub] = r.define(*sub, argv[0]);
    }

    if (argc < 2) {
        std::cerr << app.help();
        return kExitUsage;
    }
    const std::string first = argv[1];
    if (first == "help") {
        std::cout << app.help();
        return kExitOk;
    }
    if (first.empty() || first[0] != '-') {
        const bool inEdition = findCommand(first) != nullptr ||
                               (maintenance && findMaintenanceCommand(first) != nullptr);
        if (!inEdition) {
            if (findMaintenanceCommand(first) != nullptr) {
                requireMaintenanceEdition(argv[0], argv[1]);
                return kExitUsage;
            }
            std::cerr << "lanrove-cli: unknown command '" << first
                      << "' (see lanrove-cli --help)\n";
            return kExitUsage;
        }
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << commandPrefix(app) << ": " << e.what() << '\n';
        return kExitUsage;
    }

    const auto chosen = app.get_subcommands();
    if (chosen.empty()) {
        std::cerr << app.help();
        return kExitUsage;
    }
    const CLI::App* sub = chosen.front();
    if (const auto extras = sub->remaining(); !extras.empty()) {
        std::cerr << commandPrefix(app) << ": " << extraMessage(extras.front()) << '\n';
        return kExitUsage;
    }
    // Said before the command runs: its waits would be too short for real cameras.
    if (const std::string warning = timeScaleWarning(); !warning.empty())
        std::cerr << "lanrove-cli: " << warning << '\n';
    return runners[sub]();
}

}  // namespace lanrove::cli
