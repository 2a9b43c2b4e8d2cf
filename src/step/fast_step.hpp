#pragma once
// The fast time step over the bands of rows of a Stepping, one band a
// thread (time_step.hpp has the rules it keeps).
#include "step/time_step.hpp"

// The values a step reads and writes besides the distributions.
struct Step_Fields {
    float T_Ref, G_Beta, Tau_F, Tau_T, T_Hot, T_Cold;
    Field &Rho, &U, &V, &T;
};

// One fast step, in place, with the traps held; returns the floating-point
// exceptions raised (invalid, division by zero, overflow) in any thread, 0
// if none. After a fault the state is part old, part new.
int Fast_Step(Stepping& s, const Step_Fields& a);

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
