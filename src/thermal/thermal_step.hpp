#pragma once
#include "lattice/lattice.hpp"

// One time step of the temperature distributions: equilibrium and BGK
// collision on the columns 1..n-1 (bottom and top rows included), streaming,
// fixed temperatures on the side walls and insulated bottom and top walls,
// then the temperature on the columns 1..n-1.
void Thermal_Step(int n, int m, float Tau_T, const Field& U, const Field& V, Field& T, Field& G,
                  float T_Hot, float T_Cold);

// The stages, in the order Thermal_Step runs them.
void Thermal_Collision(int n, int m, float Tau_T, const Field& U, const Field& V, const Field& T,
                       Field& G);
void Thermal_Walls(int n, int m, Field& G, float T_Hot, float T_Cold);
void Thermal_Temperature(int n, int m, const Field& G, Field& T);

// The side-wall constants 2/9 and 1/18 in single precision.
inline constexpr float Two_Ninths = 2.0f / 9.0f;
inline constexpr float One_Eighteenth = 1.0f / 18.0f;
