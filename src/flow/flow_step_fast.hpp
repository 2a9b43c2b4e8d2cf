#pragma once
#include "lattice/lattice.hpp"
#include "lattice/row_workspace.hpp"

// The flow step in one sweep over the rows, giving the same values as
// Flow_Step: each row is collided into a ring of three rows, the row below
// it is then streamed, reflected at the walls and summed for the density and
// the velocity. The new distributions are written to the workspace, whose
// storage is then exchanged with F's: the workspace keeps the old ones.
void Flow_Step_Fast(int n, int m, float T_Ref, float G_Beta, Field& Rho, Field& U, Field& V,
                    float Tau_F, Field& F, Field& Feq, const Field& T, Fast_Workspace& work);
