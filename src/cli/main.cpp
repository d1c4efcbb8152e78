// lanrove-cli: the core as a scriptable command-line tool.
#include "cli/commands.h"

int main(int argc, char** argv) {
    return lanrove::cli::runCommandLine(argc, argv);
}
