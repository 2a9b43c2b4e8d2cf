#pragma once
// The step composition: the procedures that advance the run, fast or
// straightforward, on what a Stepping keeps from step to step. The time loop
// calls these and nothing else of the solvers.
#include "results/result_files.hpp"
#include "step/stepping.hpp"

#include <vector>

// Threads for the fast step of an n x m grid: `requested` (--threads) if
// given; else as many of the threads the machine offers (Thread_Count) as
// pay, each with enough nodes that its share outweighs the cost of meeting
// the others, so that a small grid runs on one. At most one for every two
// rows.
int Step_Threads(int n, int m, int requested);
int Threads_That_Pay(int n, int m, int available);
// Two threads paid from 24 x 24 up on an idle AVX2 machine (1.3x there, 1.6x
// at 32 x 32, 1.7x at 56 x 56); with this share a grid starts on two from
// about 45 x 45, and where they pay less the choice at the reports goes back
// to one.
inline constexpr int Min_Nodes_A_Thread = 1024;

// Chooses the procedures and obtains their storage, once, before the time
// loop, after the set-up has filled F and G. The fast procedures take the
// distributions over from F and G and release F, Feq and G; they run on
// `threads` threads (at most one for every two rows of the grid).
void Prepare_Stepping(Stepping& s, Solver solver, int n, int m, int threads, Field& F, Field& Feq,
                      Field& G);

// Lets the program choose how many of the threads the fast step uses, from
// report to report (--threads and OMP_NUM_THREADS fix the count); `plan`, if
// not empty, forces the counts instead (Start_Choice).
void Adapt_Threads(Stepping& s, const std::vector<int>& plan);

// At a report: weighs the steps since the last one (their wall time and the
// threads' waits at barriers) and sets the count for the next ones.
void Threads_At_Report(Stepping& s);

// After the steps have waited (a caller that advances the run in pieces):
// the time of the steps since the last report is taken again from the next
// step on, so that the wait does not count as theirs.
void Restart_Report_Interval(Stepping& s);

// One time step: the flow step, then the thermal step. F and G are those of
// the straightforward procedures (empty for the fast ones), and so are the
// old copies, which the fast procedures do not need.
//
// The fast step holds the floating-point traps off in every thread while it
// runs and gathers the flags of all of them afterwards. It visits the nodes
// in another order than the straightforward one, so where it raises an
// invalid operation, a division by zero or an overflow, the first fault
// could be another one. Such a step is not taken: the state before it is
// reached again (from a copy saved every few steps, and the steps since,
// repeated) and the step runs on the straightforward procedures with the
// traps on, which end the run exactly as they would have; if they do not,
// the run goes on from their result.
void Time_Step(Stepping& s, int n, int m, float T_Ref, float G_Beta, Field& Rho, Field& U, Field& V,
               float Tau_F, Field& F, Field& Feq, Field& T, float Tau_T, Field& G, float T_Hot,
               float T_Cold, const Field& U_Old, const Field& V_Old, const Field& T_Old);

// What Time_Step does instead of taking a step that faulted: the state
// before it is reached again (the saved copy, then the steps since on the
// fast procedures, which did not fault the first time), and the step runs on
// the straightforward procedures; if they do not end the run, their result
// becomes the fast path's state.
void Redo_Step(Stepping& s, const Step_Fields& a);

// Saves the state the next step starts from (done by Time_Step every
// Save_Interval steps).
void Save_State(Stepping& s, const Step_Fields& a);
inline constexpr int Save_Interval = 128;

// The residuals of the step and the refreshed old copies. `printed` says that
// the next report prints them, so they are formed exactly then.
// `Flow_At_Rest` says that the velocity was zero on every node (the flow
// residual is then 0 over nothing); exact wherever a residual could stop the
// run.
void Residuals(Stepping& s, int n, int m, float& Residual_Flow, float& Residual_T, const Field& U,
               const Field& V, const Field& T, Field& U_Old, Field& V_Old, Field& T_Old,
               bool printed, bool& Flow_At_Rest);

// The threads of the fast step for the work of a report (none for the
// straightforward procedures, or for a step on one thread).
Shares Report_Shares(Stepping& s);

// Rows j0 .. j1 - 1 of the distributions F and G, the nine values of a node
// side by side (the order of the field arrays), out of or into whatever
// storage the chosen procedures keep them in: for a checkpoint, and a run
// that goes on from one. The arrays F and G are read or written only by the
// straightforward procedures.
void Copy_Distributions_Out(const Stepping& s, int n, int j0, int j1, const Field& F,
                            const Field& G, float* F_rows, float* G_rows);
void Copy_Distributions_In(Stepping& s, int n, int j0, int j1, const float* F_rows,
                           const float* G_rows, Field& F, Field& G);
