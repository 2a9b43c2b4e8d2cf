#pragma once
// Powers of 5 and 10 and the float thresholds of the powers of ten that the
// exact scaling of a float to seven digits uses (real_text.cpp, and the
// eight-at-a-time slots of real_slots.cpp).
#include <bit>
#include <cstdint>

namespace textio::scaling {

__extension__ typedef unsigned __int128 u128;

constexpr u128 Pow5(int p) {
    u128 r = 1;
    for (int i = 0; i < p; ++i)
        r *= 5;
    return r;
}

constexpr u128 Pow10(int p) {
    u128 r = 1;
    for (int i = 0; i < p; ++i)
        r *= 10;
    return r;
}

// The fast range: E from -9 to 7, k from 0 to 16.
inline constexpr int Fast_Min_E = -9, Fast_Max_E = 7;

struct Pow5_64_Table {
    std::uint64_t v[Fast_Max_E - Fast_Min_E + 1];
    constexpr Pow5_64_Table() : v() {
        for (int k = 0; k <= Fast_Max_E - Fast_Min_E; ++k)
            v[k] = std::uint64_t(Pow5(k));
    }
};
inline constexpr Pow5_64_Table Pow5_64;

// The bits of the smallest float >= 10^q (q from -10 to 7): |x| >= 10^q
// exactly when the bits of |x| are at least these.
constexpr std::uint32_t Float_Bits_Not_Below_Pow10(int q) {
    if (q >= 0) // exact in a float
        return std::bit_cast<std::uint32_t>(float(Pow10(q)));
    std::uint64_t D = std::uint64_t(Pow10(-q));
    // 10^q = 2^-s / D; the mantissa ceil(2^s / D) in [2^23, 2^24].
    int s = 0;
    while ((std::uint64_t(1) << s) / D < (std::uint64_t(1) << 23))
        ++s;
    std::uint64_t M = ((std::uint64_t(1) << s) + D - 1) / D;
    if (M == (std::uint64_t(1) << 24)) {
        M >>= 1;
        --s;
    }
    return std::uint32_t(127 + 23 - s) << 23 | std::uint32_t(M - (std::uint64_t(1) << 23));
}

struct Pow10_Bits_Table {
    std::uint32_t v[Fast_Max_E - Fast_Min_E + 2]; // 10^(Fast_Min_E - 1) .. 10^Fast_Max_E
    constexpr Pow10_Bits_Table() : v() {
        for (int q = Fast_Min_E - 1; q <= Fast_Max_E; ++q)
            v[q - (Fast_Min_E - 1)] = Float_Bits_Not_Below_Pow10(q);
    }
};
inline constexpr Pow10_Bits_Table Pow10_Bits;
static_assert(Pow10_Bits.v[-1 - (Fast_Min_E - 1)] == 0x3dcccccdu); // 0.1f, above 0.1
static_assert(Pow10_Bits.v[-6 - (Fast_Min_E - 1)] == 0x358637beu); // 1e-6f is below 1e-6
static_assert(Pow10_Bits.v[7 - (Fast_Min_E - 1)] == 0x4b189680u);  // 1e7

} // namespace textio::scaling
