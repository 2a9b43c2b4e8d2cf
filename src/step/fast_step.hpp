#pragma once
// The fast time step over the bands of rows of a Stepping, one band a
// thread (time_step.hpp has the rules it keeps).
#include "step/stepping.hpp"

// One fast step, in place, with the traps held; returns the floating-point
// exceptions raised (invalid, division by zero, overflow) in any thread, 0
// if none. After a fault the state is part old, part new.
int Fast_Step(Stepping& s, const Step_Fields& a);
