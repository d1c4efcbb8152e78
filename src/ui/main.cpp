// lanrove-setup: the desktop program.
#include "ui/program.h"

int main(int argc, char** argv) {
    return lanrove::ui::runDesktopProgram(argc, argv);
}
