#include "textio/real_text.hpp"

#include <bit>
#include <charconv>
#include <cstring>

namespace textio {
namespace {

__extension__ typedef unsigned __int128 u128;

constexpr std::uint64_t Pow10_64[20] = {1ULL,
                                        10ULL,
                                        100ULL,
                                        1000ULL,
                                        10000ULL,
                                        100000ULL,
                                        1000000ULL,
                                        10000000ULL,
                                        100000000ULL,
                                        1000000000ULL,
                                        10000000000ULL,
                                        100000000000ULL,
                                        1000000000000ULL,
                                        10000000000000ULL,
                                        100000000000000ULL,
                                        1000000000000000ULL,
                                        10000000000000000ULL,
                                        100000000000000000ULL,
                                        1000000000000000000ULL,
                                        10000000000000000000ULL};

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

// 5^44 * (2^24 - 1) still fits in 128 bits.
constexpr int Max_Pow5 = 44;

struct Pow5_Table {
    u128 v[Max_Pow5 + 1];
    constexpr Pow5_Table() : v() {
        for (int p = 0; p <= Max_Pow5; ++p)
            v[p] = Pow5(p);
    }
};
constexpr Pow5_Table Pow5s;

constexpr std::uint64_t Lo17 = 10000000000000000ULL;  // 1e16
constexpr std::uint64_t Hi17 = 100000000000000000ULL; // 1e17

// Exact decimal digits of |x| from the standard library, for the values the
// fast paths do not cover (below 1e-27). Trailing digits are exact zeros.
Expansion Expand17_Slow(float x) {
    char buf[160];
    auto r = std::to_chars(buf, buf + sizeof buf, double(x < 0 ? -x : x),
                           std::chars_format::scientific, 120);
    // buf: d.ddd...e-XX
    char* e_pos = static_cast<char*>(std::memchr(buf, 'e', std::size_t(r.ptr - buf)));
    int exp10 = 0;
    std::from_chars(e_pos + 1 + (e_pos[1] == '+'), r.ptr, exp10);
    char digits[121];
    int nd = 0;
    for (char* p = buf; p < e_pos; ++p)
        if (*p != '.')
            digits[nd++] = *p;
    std::uint64_t d17 = 0;
    for (int i = 0; i < 17; ++i)
        d17 = d17 * 10 + std::uint64_t(digits[i] - '0');
    int E = exp10 + 1;
    if (digits[17] >= '5') {
        ++d17;
        if (d17 == Hi17) {
            d17 = Lo17;
            ++E;
        }
    }
    return {d17, E};
}

} // namespace

Expansion Expand17(float x) {
    std::uint32_t bits = std::bit_cast<std::uint32_t>(x) & 0x7fffffffu;
    std::uint32_t biased = bits >> 23;
    std::uint64_t M = bits & 0x7fffffu;
    int e;
    if (biased == 0) {
        e = -149;
    } else {
        M |= 0x800000u;
        e = int(biased) - 150;
    }
    // |x| = M * 2^e. Estimate E = floor(log10 |x|) + 1 from the bit length.
    int b = 63 - std::countl_zero(M) + e;             // floor(log2 |x|)
    int E = int((std::int64_t(b) * 78913) >> 18) + 1; // floor(b * log10 2) + 1
    for (;;) {
        int p = 17 - E;
        u128 floor_part;
        bool half_or_more;
        if (p >= 0) {
            if (p > Max_Pow5)
                return Expand17_Slow(x);
            u128 B = u128(M) * Pow5s.v[p];
            int t = p + e;
            if (t >= 0) {
                floor_part = B << t;
                half_or_more = false;
            } else {
                int s = -t;
                if (s >= 128) {
                    floor_part = 0;
                    half_or_more = false;
                } else {
                    floor_part = B >> s;
                    half_or_more = ((B >> (s - 1)) & 1) != 0;
                }
            }
        } else {
            u128 N = u128(M) << e; // |x| >= 1e17 is an integer
            u128 q = Pow10(-p);
            floor_part = N / q;
            half_or_more = (N % q) * 2 >= q;
        }
        if (floor_part < Lo17) {
            --E;
            continue;
        }
        if (floor_part >= Hi17) {
            ++E;
            continue;
        }
        std::uint64_t d17 = std::uint64_t(floor_part) + (half_or_more ? 1 : 0);
        if (d17 == Hi17) {
            d17 = Lo17;
            ++E;
        }
        return {d17, E};
    }
}

int Integer_Text(std::int32_t v, char* out) {
    auto r = std::to_chars(out, out + Integer_Width, v);
    return int(r.ptr - out);
}

namespace {

// Writes the decimal digits of v (exactly count of them, zero padded).
inline void Put_Digits(std::uint64_t v, int count, char* out) {
    for (int i = count - 1; i >= 0; --i) {
        out[i] = char('0' + v % 10);
        v /= 10;
    }
}

} // namespace

int Real_Text(float x, char* out) {
    std::uint32_t bits = std::bit_cast<std::uint32_t>(x);
    bool negative = (bits >> 31) != 0;
    std::uint32_t mag = bits & 0x7fffffffu;
    if (mag >= 0x7f800000u) { // not reached in a run: the traps stop it before
        const char* t = mag == 0x7f800000u ? (negative ? "-Infinity" : "Infinity") : "NaN";
        std::size_t len = std::strlen(t);
        std::memcpy(out, t, len);
        return int(len);
    }
    if (mag == 0) { // negative zero is written like zero
        std::memcpy(out, "0.000000E+00", 12);
        return 12;
    }
    Expansion ex = Expand17(x);
    int E = ex.E;
    bool fixed = E >= 1 && E <= 7; // judged before the 7-digit rounding
    std::uint64_t d7 = (ex.Digits17 + 5000000000ULL) / 10000000000ULL;
    int E7 = E;
    if (d7 == Pow10_64[7]) {
        d7 = Pow10_64[6];
        ++E7;
    }
    char* p = out;
    if (negative)
        *p++ = '-';
    if (fixed) {
        // E7 integer digits from d7 (one more after a carry), then 6 decimals
        // of which only the first 7 - E7 come from the value.
        char digits[8];
        int nd = 7;
        Put_Digits(d7, 7, digits);
        int int_digits = E7;
        for (int k = 0; k < int_digits; ++k)
            *p++ = k < nd ? digits[k] : '0';
        *p++ = '.';
        for (int k = 0; k < 6; ++k) {
            int idx = int_digits + k;
            *p++ = idx < nd ? digits[idx] : '0';
        }
    } else {
        char digits[8];
        Put_Digits(d7, 7, digits);
        *p++ = digits[0];
        *p++ = '.';
        std::memcpy(p, digits + 1, 6);
        p += 6;
        *p++ = 'E';
        int x10 = E7 - 1;
        *p++ = x10 < 0 ? '-' : '+';
        if (x10 < 0)
            x10 = -x10;
        if (x10 >= 100) {
            *p++ = char('0' + x10 / 100);
            x10 %= 100;
        }
        *p++ = char('0' + x10 / 10);
        *p++ = char('0' + x10 % 10);
    }
    return int(p - out);
}

} // namespace textio
