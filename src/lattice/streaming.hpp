#pragma once
#include "lattice/lattice.hpp"

// Shifts each moving direction of a nine-direction distribution one node
// along its lattice vector, walls included. Values that would leave the
// lattice are dropped; entries no shift reaches keep their value. Done in
// place, each shift running against its direction of motion so that every
// source is read before it is overwritten.
void Stream_Distribution(int n, int m, Field& F);

// The floor (row 0) and the ceiling (row m) as bounce-back walls: what
// arrives there after streaming goes back whence it came.
void Bounce_Back_Floor_And_Ceiling(int n, int m, Field& F);
