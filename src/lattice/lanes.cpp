#include "lattice/lanes.hpp"

// Where the build has the fused multiply-add, the divisor also carries its
// reciprocal for the lanes' quotients; without it the kernels divide.
Divisor Divisor_Of(float d) {
#if defined(__FMA__)
    if (d > 0.0f) {
        const double y = 1.0 / double(d);
        // 1 - d y is exact in one rounding: d has 24 bits and d y is near 1.
        const double e = Fused_Multiply_Add(-double(d), y, 1.0);
        return {d, y, e / double(d), true};
    }
#endif
    return {d, 0.0, 0.0, false};
}
