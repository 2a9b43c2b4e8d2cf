#pragma once
// What a run says as it goes: the three lines of a report on the console,
// and the notes on standard error on a steady run held above the stop, on
// how the run ended and on what --accelerate did.
#include "convergence/accelerate.hpp"
#include "convergence/run_monitor.hpp"
#include "driver/options.hpp"

#include <string>

// How the time loop ended, if it has: by the step limit, the residual stop
// or --settle; ended by its caller before any of these (a library); by a
// floating-point trap its caller caught; by an error, after which it cannot
// go on.
enum class Ending { Running, Step_Limit, Residual, Settled, Stopped, Trapped, Failed };

// The report of step `Step` (steps 50, 100, ...), on the console.
void Report(int Step, float Nu_Hot, float Residual_T, float Residual_Flow);

// Once a run: the reported Nu is steady while rounding holds the residual
// above the stop.
void Tell_Steady(int Step, float Nu_Hot, const Run_Monitor& monitor);

// The note on how the run ended: always at the step limit and where its
// caller ended it, and with --settle for every end, so that a sweep knows the
// last step. A settled note adds `heat_balance`, the relative difference of
// the walls' Nusselt numbers, where it is not negative: the heat that the
// rounded weights of the temperature add shows in it, and it bounds how far
// single precision moves where Nu settles.
void Tell_The_Ending(Ending ending, int Step, float Nu_Hot, float Residual_T, float Residual_Flow,
                     const Run_Options& options, const Run_Monitor& monitor,
                     double heat_balance = -1.0);

// With --settle TOL below Float_Floor_Least: a warning, before the run,
// that single precision holds no case's Nu so closely (empty otherwise).
inline constexpr double Float_Floor_Least = 1e-6;
std::string Settle_Tolerance_Warning(double tolerance);

// With --accelerate: what the extrapolations did, and the exact steps the
// run ended on; `settled_after_shift` adds that a settled estimate is no
// bound after a shift of the heat content.
void Tell_The_Acceleration(const Accelerator& a, int Step, bool settled_after_shift);

// What the closing note on the wall-corrected Nu adds: the Rayleigh number
// of the cavity between the walls, which sit half a spacing inside the end
// nodes, beside the file's, which is that of the height m: "; Ra = 95385.7
// for the cavity between the walls, m - 1 = 63 spacings high, where the
// file's Ra = 100000 is for the height m = 64". "" on a grid 1 node wide or
// high, which has no cavity between its walls.
std::string Cavity_Rayleigh_Words(float Ra, int n, int m);

// A figure of a note or an error, printf-formatted.
std::string Figure(double x, const char* format = "%.3g");
