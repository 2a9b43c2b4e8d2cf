#pragma once
#include "driver/fast_workspace.hpp"
#include "driver/lattice.hpp"

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
