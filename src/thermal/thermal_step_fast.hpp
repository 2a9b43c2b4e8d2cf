#pragma once
#include "lattice/lattice.hpp"
#include "lattice/row_workspace.hpp"

// The thermal step in one sweep over the rows, giving the same values as
// Thermal_Step. The bottom row is finished after the row above it, whose
// values the insulated wall copies. As in the flow step, G's storage is
// exchanged with the workspace's, which keeps the old distributions.
void Thermal_Step_Fast(int n, int m, float Tau_T, const Field& U, const Field& V, Field& T,
                       Field& G, float T_Hot, float T_Cold, Fast_Workspace& work);
