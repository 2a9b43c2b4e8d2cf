#pragma once
#include "step/stepping.hpp"

// Sets up the process (floating-point traps, signals), reads the command
// line, runs the program and reports an error once, on a fresh line, with
// exit status 1.
int Program_Entry(Solver solver, int argc, const char* const* argv);
