// The rule of the fast thermal kernels for a scheme, whichever set of
// kernels the build has (one, or a choice at run time).
#include "thermal/thermal_step_fast.hpp"

Thermal_Rule Thermal_Rule_Of(const Scheme& scheme, float Tau_T) {
    Thermal_Rule rule;
    rule.relaxation = scheme.thermal;
    rule.walls = scheme.insulated_walls;
    rule.tau = Divisor_Of(Tau_T);
    rule.tau_even = Divisor_Of(Even_Relaxation_Time(Tau_T));
    return rule;
}
