#pragma once
#include "driver/options.hpp"
#include "step/stepping.hpp"

// The whole run: the console dialogue for the grid size, the field storage,
// the set-up, the time loop with its reports and its stop, the finish.
// Returns the exit status; errors travel up as exceptions.
int Main_Program(Solver solver, const Run_Options& options);
