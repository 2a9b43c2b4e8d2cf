#include "textio/real_text.hpp"
#include "textio/real_scaling.hpp"

#include <bit>
#include <charconv>
#include <cstring>

namespace textio {
namespace {

using namespace scaling;

// 5^44 * (2^24 - 1) still fits in 128 bits; 5^55 itself does, and a float
// as small as 1e-45 needs 5^51.
constexpr int Max_Pow5 = 44, Max_Pow5_Wide = 55;

struct Pow5_Table {
    u128 v[Max_Pow5_Wide + 1];
    constexpr Pow5_Table() : v() {
        for (int p = 0; p <= Max_Pow5_Wide; ++p)
            v[p] = Pow5(p);
    }
};
constexpr Pow5_Table Pow5s;

constexpr std::uint64_t Lo17 = 10000000000000000ULL;  // 1e16
constexpr std::uint64_t Hi17 = 100000000000000000ULL; // 1e17
constexpr std::uint64_t Lo7 = 1000000;                // 1e6
constexpr std::uint64_t Hi7 = 10000000;               // 1e7

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

// |x| = M * 2^e with M < 2^24, from the bits of a finite x.
struct Binary {
    std::uint64_t M;
    int e;
};

Binary Split(std::uint32_t mag) {
    std::uint32_t biased = mag >> 23;
    std::uint64_t M = mag & 0x7fffffu;
    if (biased == 0)
        return {M, -149};
    return {M | 0x800000u, int(biased) - 150};
}

// A first guess of E = floor(log10 |x|) + 1 from the bit length: it is
// either E or E - 1.
int Estimate_E(Binary v) {
    int b = 63 - std::countl_zero(v.M) + v.e;        // floor(log2 |x|)
    return int((std::int64_t(b) * 78913) >> 18) + 1; // floor(b * log10 2) + 1
}

} // namespace

Expansion Expand17(float x) {
    Binary v = Split(std::bit_cast<std::uint32_t>(x) & 0x7fffffffu);
    std::uint64_t M = v.M;
    int e = v.e;
    int E = Estimate_E(v);
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

// The real text. Rounding the exact value half up at 17 digits and then half
// up at 7 gives the same 7 digits as rounding it half up at 7 directly: the
// two differ only when digits 8 to 17 are 4999999999 and the rest rounds them
// up, and no float has such an expansion (checked over every float by
// tests/textio/real_text_exhaustive.cpp). So the digits come from one exact
// scaling of |x| = M * 2^e to [1e6, 1e7), by k = 7 - E decimal places:
// - mostly (1e-10 <= |x| < 1e7, k <= 16), in 64 bits: 2 M 5^k < 2^63, and
//   shifting it right by -(k + e) leaves twice the scaled value, floored,
//   whose last bit is the half-up rounding bit;
// - elsewhere, M * 5^k or M / 10^-k in 128-bit integers;
// - below 1e-37, where M * 5^k overflows 128 bits, in 192 bits.
namespace {

struct Digit_Pair_Table {
    char c[200];
    constexpr Digit_Pair_Table() : c() {
        for (int v = 0; v < 100; ++v) {
            c[2 * v] = char('0' + v / 10);
            c[2 * v + 1] = char('0' + v % 10);
        }
    }
};
constexpr Digit_Pair_Table Digit_Pairs;

// |x| rounded half up to 7 digits: Digits7 in [1e6, 1e7) and E7 with
// |x| ~ 0.d1...d7 x 10^E7. Fixed is judged on E before the rounding.
struct Real_Digits {
    std::uint32_t Digits7;
    std::int32_t E7;
    std::int32_t Fixed;
};

Real_Digits Make_Digits(std::uint64_t d7, int E) {
    Real_Digits r{std::uint32_t(d7), E, E >= 1 && E <= 7 ? 1 : 0};
    if (d7 == Hi7) { // carry out of the first digit
        r.Digits7 = std::uint32_t(Lo7);
        ++r.E7;
    }
    return r;
}

// M 5^p shifted right by s >= 65 for 5^p beyond 5^44 (|x| below 1e-37):
// the product in 192 bits, hi 2^64 + lo, of which the bits from s - 1 up lie
// in hi.
bool Scale_Tiny(Binary v, int p, u128& floor_part, bool& half_or_more) {
    const int s = -(p + v.e);
    if (s < 65 || s > 150)
        return false;
    const u128 P = Pow5s.v[p];
    const u128 low = u128(std::uint64_t(P)) * v.M;
    const u128 hi = u128(std::uint64_t(P >> 64)) * v.M + (low >> 64);
    floor_part = hi >> (s - 64);
    half_or_more = ((hi >> (s - 65)) & 1) != 0;
    return true;
}

// The 128-bit scaling for E near its value: sets E and the rounded digits,
// or returns false when 5^(7 - E) is out of reach.
bool Scale7_Wide(Binary v, int& E, std::uint64_t& d7) {
    for (;;) {
        int p = 7 - E;
        u128 floor_part;
        bool half_or_more;
        if (p > Max_Pow5) {
            if (p > Max_Pow5_Wide || !Scale_Tiny(v, p, floor_part, half_or_more))
                return false;
        } else if (p >= 0) {
            u128 B = u128(v.M) * Pow5s.v[p];
            int t = p + v.e;
            if (t >= 0) {
                floor_part = B << t;
                half_or_more = false;
            } else if (-t >= 128) {
                floor_part = 0;
                half_or_more = false;
            } else {
                floor_part = B >> -t;
                half_or_more = ((B >> (-t - 1)) & 1) != 0;
            }
        } else { // |x| >= 1e7 > 2^23 is an integer
            u128 N = u128(v.M) << v.e;
            u128 q = Pow10(-p);
            if ((N >> 64) == 0) {
                std::uint64_t n64 = std::uint64_t(N), q64 = std::uint64_t(q);
                floor_part = n64 / q64;
                half_or_more = 2 * (n64 % q64) >= q64;
            } else {
                floor_part = N / q;
                half_or_more = (N % q) * 2 >= q;
            }
        }
        if (floor_part < Lo7) {
            --E;
            continue;
        }
        if (floor_part >= Hi7) {
            ++E;
            continue;
        }
        d7 = std::uint64_t(floor_part) + (half_or_more ? 1 : 0);
        return true;
    }
}

// The values outside the 64-bit range: kept out of line, as they are rarer.
[[gnu::noinline]] Real_Digits Round7_Wide(float x, Binary v, int E) {
    std::uint64_t d7;
    if (Scale7_Wide(v, E, d7))
        return Make_Digits(d7, E);
    Expansion ex = Expand17(x);
    return Make_Digits((ex.Digits17 + 5000000000ULL) / 10000000000ULL, ex.E);
}

inline Real_Digits Round7(float x, std::uint32_t mag) {
    Binary v = Split(mag);
    int E = Estimate_E(v);
    if (E >= Fast_Min_E - 1 && E <= Fast_Max_E) {
        int E_exact = E + (mag >= Pow10_Bits.v[E - (Fast_Min_E - 1)] ? 1 : 0);
        int k = 7 - E_exact;
        if (unsigned(k) <= unsigned(Fast_Max_E - Fast_Min_E)) {
            // -(k + e) >= 0, as the scaled value is below 2^24 <= 2 M.
            std::uint64_t twice = (v.M * Pow5_64.v[k] << 1) >> -(k + v.e);
            return Make_Digits((twice + 1) >> 1, E_exact);
        }
    }
    return Round7_Wide(x, v, E);
}

inline int Text_Length(bool negative, const Real_Digits& r) {
    return (negative ? 1 : 0) + (r.Fixed ? r.E7 + 7 : 12);
}

// The text is put together in registers and stored in a few wide stores
// (characters in memory order: the first character in the lowest byte).
static_assert(std::endian::native == std::endian::little);

template <class Word> inline void Store(char* out, Word w) {
    std::memcpy(out, &w, sizeof w);
}

inline std::uint64_t Pair(std::uint32_t v) {
    std::uint16_t p;
    std::memcpy(&p, Digit_Pairs.c + 2 * v, 2);
    return p;
}

constexpr std::uint64_t Eight_Zeros = 0x3030303030303030ULL; // "00000000"

// Writes the text of Text_Length characters.
inline void Put_Text(bool negative, const Real_Digits& r, char* out) {
    *out = '-';
    out += negative ? 1 : 0;
    // The 7 digits, then a '0' for the position beyond them.
    std::uint32_t first = r.Digits7 / 1000000, rest = r.Digits7 % 1000000;
    std::uint64_t digits = ('0' + first) | Pair(rest / 10000) << 8 | Pair(rest / 100 % 100) << 24 |
                           Pair(rest % 100) << 40 | std::uint64_t('0') << 56;
    if (r.Fixed) {
        // E7 integer digits, ".", 6 decimals, zeros beyond the 7 digits; the
        // text is E7 + 7 >= 8 long.
        Store(out, digits);
        out[r.E7] = '.';
        u128 all = u128(digits) | u128(Eight_Zeros) << 64;
        std::uint64_t decimals = std::uint64_t(all >> (8 * r.E7));
        Store(out + r.E7 + 1, std::uint32_t(decimals));
        Store(out + r.E7 + 5, std::uint16_t(decimals >> 32));
    } else {
        // d.ddddddE+xx; a float's decimal exponent has two digits.
        Store(out, (digits & 0xff) | std::uint64_t('.') << 8 | (digits >> 8) << 16);
        int x10 = r.E7 - 1;
        std::uint64_t sign = x10 < 0 ? '-' : '+';
        Store(out + 8,
              std::uint32_t('E' | sign << 8 | Pair(std::uint32_t(x10 < 0 ? -x10 : x10)) << 16));
    }
}

// The texts that do not come from digits: zero, and the non-finite values
// (not reached in a run: the traps stop it before). Null for the others.
const char* Special_Text(std::uint32_t bits, int& len) {
    std::uint32_t mag = bits & 0x7fffffffu;
    const char* t = nullptr;
    if (mag == 0) // negative zero is written like zero
        t = "0.000000E+00";
    else if (mag == 0x7f800000u)
        t = (bits >> 31) != 0 ? "-Infinity" : "Infinity";
    else if (mag > 0x7f800000u)
        t = "NaN";
    if (t)
        len = int(std::strlen(t));
    return t;
}

} // namespace

int Real_Text(float x, char* out) {
    std::uint32_t bits = std::bit_cast<std::uint32_t>(x);
    int len;
    if (const char* t = Special_Text(bits, len)) {
        std::memcpy(out, t, std::size_t(len));
        return len;
    }
    bool negative = (bits >> 31) != 0;
    Real_Digits r = Round7(x, bits & 0x7fffffffu);
    Put_Text(negative, r, out);
    return Text_Length(negative, r);
}

void Real_Slot(float x, char* slot) {
    std::memset(slot, ' ', Real_Slot_Width);
    std::uint32_t bits = std::bit_cast<std::uint32_t>(x);
    int len;
    if (const char* t = Special_Text(bits, len)) {
        std::memcpy(slot + Real_Slot_Width - len, t, std::size_t(len));
        return;
    }
    bool negative = (bits >> 31) != 0;
    Real_Digits r = Round7(x, bits & 0x7fffffffu);
    Put_Text(negative, r, slot + Real_Slot_Width - Text_Length(negative, r));
}

} // namespace textio
