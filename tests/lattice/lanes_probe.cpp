// Built for each instruction set the build holds (support/lanes_probe.hpp).
#include "support/lanes_probe.hpp"
#include "lattice/lanes.hpp"

#include <cstring>

namespace {

template <class Real>
void Quotients_By(const double* x, std::size_t count, const Divisor& q, double* out) {
    using L = Lanes<Real>;
    for (std::size_t i = 0; i + L::Count <= count; i += L::Count) {
        Real v;
        std::memcpy(&v, x + i, sizeof v);
        const Real r =
            q.by_reciprocal ? L::template Divide<true>(v, q) : L::template Divide<false>(v, q);
        std::memcpy(out + i, &r, sizeof r);
    }
}

void Quotients(const double* x, std::size_t count, float divisor, int width, double* q) {
    const Divisor d = Divisor_Of(divisor);
    if (width == 8)
        Quotients_By<V8d>(x, count, d, q);
    else if (width == 4)
        Quotients_By<V4d>(x, count, d, q);
    else
        Quotients_By<double>(x, count, d, q);
}

bool Blocks(int count, int* seen) {
    bool inside = true;
    For_Each_Block(count, [&]<class Real>(int x) {
        for (int l = 0; l < Lanes<Real>::Count; ++l) {
            if (x + l >= count)
                inside = false;
            else
                ++seen[x + l];
        }
    });
    return inside;
}

} // namespace

extern const Lanes_Probe Lanes_Probe_Table = {Quotients, Blocks};
