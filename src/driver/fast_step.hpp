#pragma once
// The fast time step over the bands of rows of a Stepping, one band a
// thread (time_step.hpp has the rules it keeps).
#include "driver/time_step.hpp"

// The values a step reads and writes besides the distributions.
struct Step_Fields {
    float T_Ref, G_Beta, Tau_F, Tau_T, T_Hot, T_Cold;
    Field &Rho, &U, &V, &T;
};

// One fast step from the current copies of F and G into the next ones, with
// the traps held; returns the floating-point exceptions raised (invalid,
// division by zero, overflow) in any thread, 0 if none. The caller makes the
// next copies the current ones when none was raised.
int Fast_Step(Stepping& s, const Step_Fields& a);

// What a step that faulted does instead: the state before the step restored
// (F and G from the current copies, U, V and T from the old copies, Rho as
// the sum of F), then the step on the straightforward procedures, whose
// result becomes the current copies.
void Undo_And_Rerun(Stepping& s, const Step_Fields& a, const Field& U_Old, const Field& V_Old,
                    const Field& T_Old);
