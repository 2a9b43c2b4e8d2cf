#pragma once
// The status line of a run on a terminal: where it is, how fast it goes,
// whether the residuals still fall and how the Nusselt number moves.
#include "convergence/run_monitor.hpp"

#include <chrono>
#include <cstdint>
#include <string>

struct Progress_Line {
    bool on = false; // standard error is a terminal
    std::uint64_t nodes = 0;
    int first_step = -1; // the step before the first one of this process
    std::chrono::steady_clock::time_point start, shown;
};

// Starts the clock of the time loop; the line is shown only where standard
// error is a terminal.
void Start_Progress(Progress_Line& progress, int n, int m);

// After each step: redraws the line at most four times a second.
void Show_Progress(Progress_Line& progress, int Step, float Residual_T, float Residual_Flow,
                   const Run_Monitor& monitor, int threads);

// The text of the line, for `seconds` since the loop began, `node_updates`
// since then and the threads the steps use now.
std::string Progress_Text(int Step, double seconds, double node_updates, int threads,
                          float Residual_T, float Residual_Flow, const Run_Monitor& monitor);
