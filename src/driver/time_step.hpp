#pragma once
// The step composition: which procedures advance the run, fast or
// straightforward, and what they keep from step to step. The time loop calls
// these and nothing else of the solvers.
#include "lattice/lattice.hpp"
#include "lattice/row_workspace.hpp"

// The fast procedures give the same bytes as the straightforward ones, which
// stay as the readable reference (the program cavity-reference runs them).
enum class Solver { Fast, Reference };

// The procedures chosen for a run and their working storage.
struct Stepping {
    Solver solver = Solver::Fast;
    Fast_Workspace work;
};

// Chooses the procedures and obtains their working storage, once, before
// the time loop.
void Prepare_Stepping(Stepping& s, Solver solver, int n, int m);

// One time step: the flow step, then the thermal step.
void Time_Step(Stepping& s, int n, int m, float T_Ref, float G_Beta, Field& Rho, Field& U, Field& V,
               float Tau_F, Field& F, Field& Feq, Field& T, float Tau_T, Field& G, float T_Hot,
               float T_Cold, const Field& U_Old, const Field& V_Old, const Field& T_Old);

// The residuals of the step and the refreshed old copies. `printed` says that
// the next report prints them, so they are formed exactly then.
// `Flow_At_Rest` says that the velocity was zero on every node (the flow
// residual is then 0 over nothing); exact wherever a residual could stop the
// run.
void Residuals(Stepping& s, int n, int m, float& Residual_Flow, float& Residual_T, const Field& U,
               const Field& V, const Field& T, Field& U_Old, Field& V_Old, Field& T_Old,
               bool printed, bool& Flow_At_Rest);

// Rows j0 .. j1 - 1 of the distributions F and G, the nine values of a node
// side by side (the order of the field arrays), out of or into whatever
// storage the chosen procedures keep them in: for a checkpoint, and a run
// that goes on from one.
void Copy_Distributions_Out(const Stepping& s, int n, int j0, int j1, const Field& F,
                            const Field& G, float* F_rows, float* G_rows);
void Copy_Distributions_In(Stepping& s, int n, int j0, int j1, const float* F_rows,
                           const float* G_rows, Field& F, Field& G);

// One time step (flow, then temperature) on the fast procedures, with the
// floating-point traps held off while they run. The fast step visits the
// nodes in another order than the straightforward one, so where a step
// raises an invalid operation, a division by zero or an overflow, the first
// fault could be another one. Such a step is therefore undone (the step
// before is still whole: the new distributions go to separate storage, and
// U, V, T of the step before are in the old copies) and run again on the
// straightforward procedures with the traps on, which end the run exactly
// as they would have.
void Time_Step_Fast(int n, int m, float T_Ref, float G_Beta, Field& Rho, Field& U, Field& V,
                    float Tau_F, Field& F, Field& Feq, Field& T, float Tau_T, Field& G, float T_Hot,
                    float T_Cold, const Field& U_Old, const Field& V_Old, const Field& T_Old,
                    Fast_Workspace& work);
