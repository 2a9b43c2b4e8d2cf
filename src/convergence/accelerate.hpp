#pragma once
// --accelerate: the steady state, a fixed point of the exact step, reached in
// fewer steps. Every Block exact steps the state (the distributions F and G)
// is extrapolated from the blocks before it by Anderson mixing on the map
// x -> (Block exact steps from x): the combination of the last few block
// results whose residuals cancel best, computed in double and stored as the
// distributions' floats, with the moments the step reads formed from them
// as the step forms them. An extrapolation whose block then grows the
// residual, or whose values the traps would catch, is undone: the run goes
// back to the last state exact steps reached and goes on with plain blocks
// for a while. Once the extrapolations have ended, the heat content (the
// mean temperature), which they leave off and which comes to its limit
// slowest, is extrapolated alone from samples Heat_Block steps apart and the
// temperature shifted once by what it lacks. The run's stop rules apply after
// every exact step as ever.
#include "convergence/run_monitor.hpp"
#include "step/time_step.hpp"

#include <cstdint>
#include <vector>

// The fields an extrapolation replaces, by reference.
struct Accelerated_Fields {
    int n, m;
    Stepping& steps;
    Field &F, &G, &Rho, &U, &V, &T, &U_Old, &V_Old, &T_Old;
    Acceleration_Record& Record; // what a checkpoint keeps of the extrapolations
};

// What happened at the end of a block.
enum class Block_End { None, Plain, Extrapolated, Undone, Converged };

struct Accelerator {
    int Block = 400;           // exact steps a block
    int Window = 8;            // block results an extrapolation combines (at most)
    int Start = -1;            // the step the block began at; -1 before the first
    bool Extrapolated = false; // the block began at an extrapolated state
    bool Have_Old = false;     // F_Old and Reached hold the block before
    double Last_Norm = 0;      // the residual of the block before
    int Columns = 0, Newest = -1;
    Field X_F, X_G;            // the state the block began at
    Field Reached, Now, F_Old; // the state of the block before, the state now, its residual
    std::vector<Field> dF, dG; // differences of residuals and of block results
    std::vector<double> Gram;  // dF^T dF, Window x Window
    // After the extrapolations: the heat content (the mean temperature off
    // the side walls) every Heat_Block exact steps, oldest first.
    int Heat_Block = 1000;
    int Heat_At = -1;
    std::vector<double> Heat;
    // A test hook: the Nth extrapolation (counted from 1; 0 for none) gets an
    // infinite value at Poison_At.
    int Poison = 0;
    std::size_t Poison_At = 0;
    // For the note at the end: extrapolations made and undone, shifts of the
    // heat content made (all by this start of the run), and the step
    // at which the state was last replaced.
    int Made = 0, Undone_Total = 0, Last_Extrapolation = 0, Shifts = 0;
};

// Bytes the history needs on an n x m grid (for the memory check).
std::uint64_t Accelerator_Bytes(int n, int m, const Accelerator& a);

// Obtains the history's storage, once, before the time loop.
void Prepare_Accelerator(Accelerator& a, int n, int m);

// Drops the history: the state after the next exact step begins a new first
// block. A run that goes on from a checkpoint begins so at the checkpoint's
// step, and the uninterrupted run restarts there to do the same; the
// Acceleration_Record (whether the extrapolations have ended, the back-off)
// goes on in both.
void Restart_Accelerator(Accelerator& a);

// After exact step `Step`, its residuals and the stop test: at the end of a
// block, takes the next state. The old copies are set to the moments of a
// replaced state, so that the next residuals measure one exact step from it.
Block_End Accelerate(Accelerator& a, int Step, const Accelerated_Fields& s);
