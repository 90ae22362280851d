#pragma once

namespace valve::cli {

// valvectl's main(): checks the arguments, chooses the way to the unit (its
// own adapter, a simulated unit, or the running panel), carries out the
// subcommand and prints the outcome. Returns the exit code.
int valvectlMain(int argc, char** argv);

} // namespace valve::cli
