#pragma once
// Text of the numbers in a record: integers and single-precision reals.
#include <cstdint>

namespace textio {

// Longest texts: "-2147483648" (11) and "-1234567.000000" (15).
inline constexpr int Integer_Width = 11;
inline constexpr int Real_Width = 15;

// Writes the text of v to out (no terminator) and returns its length.
int Integer_Text(std::int32_t v, char* out);

// Writes the text of x to out (no terminator) and returns its length:
// 7 significant digits, fixed form "123.456000" for 1 <= |x| < 1e7, exponent
// form "1.234560E-01" otherwise. The digits come from the exact value rounded
// half up to 17 digits, then half up to 7.
int Real_Text(float x, char* out);

// The 17-digit expansion of |x| for finite x != 0: Digits17 in [1e16, 1e17)
// and E with |x| ~ 0.d1d2...d17 x 10^E. Exposed for tests.
struct Expansion {
    std::uint64_t Digits17;
    int E;
};
Expansion Expand17(float x);

} // namespace textio
