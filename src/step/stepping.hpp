#pragma once
// What the step keeps from step to step: the procedures chosen for a run,
// fast or straightforward, their storage and their threads, and the values
// a step reads and writes besides the distributions.
#include "lattice/lattice.hpp"
#include "lattice/scheme.hpp"
#include "lattice/row_workspace.hpp"
#include "lattice/thread_choice.hpp"
#include "lattice/thread_team.hpp"
#include "results/residuals_fast.hpp"

#include <chrono>
#include <cstdint>
#include <vector>

// The fast procedures give the same bytes as the straightforward ones, which
// stay as the readable reference (the program cavity-reference runs them).
enum class Solver { Fast, Reference };

// The procedures chosen for a run and their storage. The fast procedures
// keep F and G in storage of their own (rows of nine planes, with a copy
// saved every few steps) and need no Feq; the field arrays F, Feq and G are
// then left empty, and Copy_Distributions_Out/In reach the distributions.
struct Stepping {
    Solver solver = Solver::Fast;
    Scheme scheme; // the same on both procedures
    int n = -1, m = -1;
    Fast_Distributions fast;
    std::vector<Band_Rows> bands; // one a thread, bottom to top
    Thread_Team threads;
    Thread_Choice choice;                                 // how many of the threads the steps use
    std::chrono::steady_clock::time_point interval_start; // of the steps since the last report
    int interval_steps = 0;
    // The step's first thread's time without a core, at the last report (-1:
    // not known), and when it was read.
    std::int64_t queued_at_report = -1;
    std::chrono::steady_clock::time_point report_time;
    std::vector<Residual_Sums> row_sums; // of the residuals, on the threads
    // Feq of a step redone on the straightforward procedures, obtained for
    // it and released after it; held here, so that a trap that a caller
    // catches (Catch_Floating_Point_Traps) leaves no storage behind.
    Field redo_Feq;
};

// The values a step reads and writes besides the distributions.
struct Step_Fields {
    float T_Ref, G_Beta, Tau_F, Tau_T, T_Hot, T_Cold;
    Field &Rho, &U, &V, &T;
};
