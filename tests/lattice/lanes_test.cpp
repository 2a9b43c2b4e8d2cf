// The lanes of the fast kernels: quotients as the division instruction
// rounds them, and blocks that cover every node.
#include "lattice/lanes.hpp"
#include "support/fields.hpp"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace {

std::uint64_t Bits64(double x) {
    std::uint64_t u;
    std::memcpy(&u, &x, sizeof u);
    return u;
}

// Differences of two floats (what the kernels divide): near each other,
// far apart, of any size, and zeros of both signs.
std::vector<double> Dividends(std::mt19937& rng) {
    std::vector<double> x = {0.0, -0.0, 1e-45, -1e-45, 3e38, -3e38};
    std::uniform_int_distribution<std::uint32_t> any(0, 0x7f7fffffu);
    std::uniform_int_distribution<std::int32_t> near(-100000, 100000);
    for (int i = 0; i < 200000; ++i) {
        std::uint32_t a = i % 2 ? any(rng) : 0x3c000000u + any(rng) % 0x03000000u;
        std::uint32_t b = i % 3 ? a + std::uint32_t(near(rng)) : any(rng);
        a |= (rng() & 1u) << 31;
        b = (b & 0x7fffffffu) | ((rng() & 1u) << 31);
        float fa, fb;
        std::memcpy(&fa, &a, 4);
        std::memcpy(&fb, &b, 4);
        if (std::isfinite(fa) && std::isfinite(fb))
            x.push_back(double(fa) - double(fb));
    }
    return x;
}

template <class Real> void Expect_Quotients(const std::vector<double>& x, float divisor) {
    using L = Lanes<Real>;
    const Divisor q = Divisor_Of(divisor);
    for (std::size_t i = 0; i + L::Count <= x.size(); i += L::Count) {
        Real v;
        for (int l = 0; l < L::Count; ++l)
            reinterpret_cast<double*>(&v)[l] = x[i + std::size_t(l)];
        const Real r =
            q.by_reciprocal ? L::template Divide<true>(v, q) : L::template Divide<false>(v, q);
        for (int l = 0; l < L::Count; ++l) {
            const double got = reinterpret_cast<const double*>(&r)[l];
            ASSERT_EQ(Bits64(got), Bits64(x[i + std::size_t(l)] / double(divisor)))
                << x[i + std::size_t(l)] << " / " << divisor;
        }
    }
}

TEST(Lanes, QuotientsAreThoseOfTheDivision) {
    std::mt19937 rng(8);
    const std::vector<double> x = Dividends(rng);
    // Relaxation times of real runs, significands of all ones, a power of
    // two, a subnormal float, negative and huge divisors.
    for (float d : {0.5f, 0.62f, 0.713f, 0.8000001f, 1.0f, 1.9999999f, 3.7f, 1e-40f, -0.8f, 7e37f,
                    0.50000006f}) {
        Expect_Quotients<V8d>(x, d);
        Expect_Quotients<V4d>(x, d);
        if (HasFatalFailure())
            return;
    }
}

TEST(Lanes, BlocksCoverEveryNode) {
    for (int count = 0; count <= 40; ++count) {
        std::vector<int> seen(std::size_t(count), 0);
        For_Each_Block(count, [&]<class Real>(int x) {
            for (int l = 0; l < Lanes<Real>::Count; ++l) {
                ASSERT_LT(x + l, count);
                ++seen[std::size_t(x + l)];
            }
        });
        for (int i = 0; i < count; ++i)
            EXPECT_GE(seen[std::size_t(i)], 1) << i << " of " << count;
    }
}

} // namespace
