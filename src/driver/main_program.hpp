#pragma once
#include "driver/options.hpp"
#include "driver/time_step.hpp"

// The whole run: the console dialogue for the grid size, the field storage,
// the set-up, the time loop with its reports and its stop, the finish.
// Returns the exit status; errors travel up as exceptions.
int Main_Program(Solver solver, const Run_Options& options);

// Refuses a grid size outside [low, high] with a message naming the range
// and the console line it was read from.
void Check_Grid_Size(const char* name, int value, int low, int high, int line);

inline constexpr int Max_N = 2147483646; // n + 1 is written as a 32-bit integer
inline constexpr int Max_M = 1290;       // m cubed must fit in 32 bits
