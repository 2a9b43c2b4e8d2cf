#include "textio/real_text.hpp"
#include "textio/real_scaling.hpp"

#include <atomic>
#include <bit>
#include <charconv>
#include <cstring>

namespace textio {
namespace {

using namespace scaling;

// 5^55 is the largest power of five in 128 bits; the exact products below
// reach 5^61 (17 digits of the smallest float) through 192 bits.
constexpr int Max_Pow5 = 55;

struct Pow5_Table {
    u128 v[Max_Pow5 + 1];
    constexpr Pow5_Table() : v() {
        for (int p = 0; p <= Max_Pow5; ++p)
            v[p] = Pow5(p);
    }
};
constexpr Pow5_Table Pow5s;

constexpr std::uint64_t Lo7 = 1000000;  // 1e6
constexpr std::uint64_t Hi7 = 10000000; // 1e7

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

// A 192-bit unsigned integer, hi 2^128 + lo.
struct U192 {
    std::uint64_t hi;
    u128 lo;
};

// M 5^p exactly, for p up to 2 Max_Pow5.
U192 Times_Pow5(std::uint64_t M, int p) {
    const int a = p > Max_Pow5 ? Max_Pow5 : p;
    const u128 P = Pow5s.v[a];
    const u128 low = u128(std::uint64_t(P)) * M;
    const u128 mid = u128(std::uint64_t(P >> 64)) * M + (low >> 64);
    U192 r{std::uint64_t(mid >> 64), mid << 64 | u128(std::uint64_t(low))};
    for (int rest = p - a; rest > 0; rest -= 27) { // 5^27 < 2^64
        const std::uint64_t f = std::uint64_t(Pow5s.v[rest < 27 ? rest : 27]);
        const u128 l = u128(std::uint64_t(r.lo)) * f;
        const u128 h = u128(std::uint64_t(r.lo >> 64)) * f + (l >> 64);
        r = U192{std::uint64_t(u128(r.hi) * f + (h >> 64)), h << 64 | u128(std::uint64_t(l))};
    }
    return r;
}

// x >> s for 0 < s < 192, and whether the bits shifted out are one half or
// more of the last place kept.
u128 Shift_Right(U192 x, int s, bool& half_or_more) {
    auto bit = [&](int b) {
        return b >= 128 ? (x.hi >> (b - 128)) & 1 : std::uint64_t(x.lo >> b) & 1;
    };
    half_or_more = bit(s - 1) != 0;
    if (s >= 128)
        return u128(x.hi >> (s - 128));
    return x.lo >> s | (s == 0 ? 0 : u128(x.hi) << (128 - s));
}

// |x| = M 2^e rounded half up to `digits` significant digits, exactly:
// the digits (10^(digits-1) up to 10^digits, the last on a carry out of the
// first digit) and E with |x| ~ 0.d1d2... x 10^E, E judged before the
// rounding. E starts from a guess one off at most.
std::uint64_t Round_Exactly(Binary v, int digits, int& E) {
    const u128 lo = Pow10(digits - 1), hi = Pow10(digits);
    for (;;) {
        const int p = digits - E; // scale by 10^p
        u128 floor_part;
        bool half_or_more = false;
        if (p >= 0) { // M 5^p 2^(p + e)
            const U192 B = Times_Pow5(v.M, p);
            const int t = p + v.e;
            floor_part = t >= 0 ? B.lo << t : Shift_Right(B, -t, half_or_more);
        } else { // |x| >= 10^digits > 2^23 is an integer: M 2^e / 10^-p
            const u128 N = u128(v.M) << v.e, q = Pow10(-p);
            floor_part = N / q;
            half_or_more = (N % q) * 2 >= q;
        }
        if (floor_part < lo)
            --E;
        else if (floor_part >= hi)
            ++E;
        else
            return std::uint64_t(floor_part) + (half_or_more ? 1 : 0);
    }
}

} // namespace

Expansion Expand17(float x) {
    Binary v = Split(std::bit_cast<std::uint32_t>(x) & 0x7fffffffu);
    int E = Estimate_E(v);
    std::uint64_t d17 = Round_Exactly(v, 17, E);
    if (d17 == std::uint64_t(Pow10(17))) {
        d17 = std::uint64_t(Pow10(16));
        ++E;
    }
    return {d17, E};
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
// - elsewhere by Round_Exactly, the same exact scaling that gives the 17
//   digits: M * 5^k in 192 bits, or M 2^e / 10^-k in 128.
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

// The values outside the 64-bit range: kept out of line, as they are rarer.
[[gnu::noinline]] Real_Digits Round7_Wide(Binary v, int E) {
    std::uint64_t d7 = Round_Exactly(v, 7, E);
    return Make_Digits(d7, E);
}

inline Real_Digits Round7(std::uint32_t mag) {
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
    return Round7_Wide(v, E);
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
    Real_Digits r = Round7(bits & 0x7fffffffu);
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
    Real_Digits r = Round7(bits & 0x7fffffffu);
    Put_Text(negative, r, slot + Real_Slot_Width - Text_Length(negative, r));
}

namespace {
std::atomic<int> avx2_slots{-1}; // -1: as the processor allows
} // namespace

void Allow_Avx2_Slots(bool allowed) {
    avx2_slots.store(allowed, std::memory_order_relaxed);
}

bool Avx2_Slots_Allowed() {
    const int allowed = avx2_slots.load(std::memory_order_relaxed);
#if defined(__x86_64__) || defined(__i386__)
    return allowed != 0 && __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

} // namespace textio
