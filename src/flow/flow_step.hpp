#pragma once
#include "lattice/lattice.hpp"

// One time step of the flow distributions: equilibrium and BGK collision with
// the buoyancy force on the interior nodes, streaming, bounce-back on the four
// walls, then density and velocity on the interior nodes.
void Flow_Step(int n, int m, float T_Ref, float G_Beta, Field& Rho, Field& U, Field& V, float Tau_F,
               Field& F, Field& Feq, const Field& T);

// The stages, in the order Flow_Step runs them.
void Flow_Collision(int n, int m, float T_Ref, float G_Beta, const Field& Rho, const Field& U,
                    const Field& V, float Tau_F, Field& F, Field& Feq, const Field& T);
void Flow_Walls(int n, int m, Field& F);
void Flow_Macroscopic(int n, int m, const Field& F, Field& Rho, Field& U, Field& V);
