#pragma once
#include "driver/main_program.hpp"

// Sets up the process (floating-point traps, signals), runs the program and
// reports an error once, on a fresh line, with exit status 1.
int Program_Entry(Solver solver);
