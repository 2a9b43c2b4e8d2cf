// The lanes of the fast kernels of every instruction set: quotients as the
// division instruction rounds them, and blocks that cover every node.
#include "support/kernel_sets.hpp"
#include "support/lanes_probe.hpp"

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

// Each set's quotients, by lanes of every width, bit for bit those of the
// division.
void Expect_Quotients(const std::vector<double>& x, float divisor) {
    std::vector<double> q(x.size());
    for (int width : {1, 4, 8}) {
        Lanes_Probe_In_Use().quotients(x.data(), x.size(), divisor, width, q.data());
        for (std::size_t i = 0; i < x.size() / std::size_t(width) * std::size_t(width); ++i)
            ASSERT_EQ(Bits64(q[i]), Bits64(x[i] / double(divisor)))
                << x[i] << " / " << divisor << ", " << width << " lanes";
    }
}

TEST(Lanes, QuotientsAreThoseOfTheDivision) {
    std::mt19937 rng(8);
    const std::vector<double> x = Dividends(rng);
    For_Each_Kernel_Set([&] {
        // Relaxation times of real runs, significands of all ones, a power
        // of two, a subnormal float, negative and huge divisors.
        for (float d : {0.5f, 0.62f, 0.713f, 0.8000001f, 1.0f, 1.9999999f, 3.7f, 1e-40f, -0.8f,
                        7e37f, 0.50000006f}) {
            Expect_Quotients(x, d);
            if (testing::Test::HasFatalFailure())
                return;
        }
    });
}

TEST(Lanes, BlocksCoverEveryNode) {
    For_Each_Kernel_Set([] {
        for (int count = 0; count <= 40; ++count) {
            std::vector<int> seen(std::size_t(count), 0);
            EXPECT_TRUE(Lanes_Probe_In_Use().blocks(count, seen.data())) << count;
            for (int i = 0; i < count; ++i)
                EXPECT_GE(seen[std::size_t(i)], 1) << i << " of " << count;
        }
    });
}

} // namespace

#if defined(CAVITY_KERNEL_DISPATCH)
extern const Lanes_Probe Lanes_Probe_Table_baseline, Lanes_Probe_Table_avx2,
    Lanes_Probe_Table_avx512;
const Lanes_Probe& Lanes_Probe_In_Use() {
    return Kernels_In_Use(Lanes_Probe_Table_baseline, Lanes_Probe_Table_avx2,
                          Lanes_Probe_Table_avx512);
}
#else
extern const Lanes_Probe Lanes_Probe_Table;
const Lanes_Probe& Lanes_Probe_In_Use() {
    return Lanes_Probe_Table;
}
#endif
