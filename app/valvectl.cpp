// valvectl: the valve panel's commands from the command line, for scripts and
// lab automation, on the unit's adapter or through a running panel.
#include "cli/valvectl.h"

int main(int argc, char** argv) {
    return valve::cli::valvectlMain(argc, argv);
}
