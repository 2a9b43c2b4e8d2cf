#include "textio/real_scaling.hpp"
#include "textio/real_text.hpp"

#if defined(__AVX2__)
#include <immintrin.h>
#endif

namespace textio {

#if defined(__AVX2__)
namespace {

using namespace scaling;

// Eight reals at a time: the same exact scaling as Real_Slot's in 64-bit
// lanes, the digits split with multiply-shift divisions, and each slot laid
// out by one byte shuffle of its eight digit characters "0d1d2...d7" (a zero
// first, for the zeros beyond the seventh digit) merged with the fixed
// characters of its form: blanks, sign, point, exponent. Zero has a fixed
// text; the other reals outside 1e-10 <= |x| < 1e7 are then written by
// Real_Slot.

// Forms: fixed with E7 = 1..8 integer digits (0..7), exponent form with
// E7 = -9..1 (8..18); each for a positive (0..18) and a negative real.
constexpr int Forms = 19;

// Zero, of either sign, has a layout of its own, after them.
constexpr int Zero_Layout = 2 * Forms;

struct Slot_Layouts {
    alignas(16) unsigned char shuffle[2 * Forms + 1][16];
    alignas(16) unsigned char fill[2 * Forms + 1][16];
    constexpr Slot_Layouts() : shuffle(), fill() {
        const char zero[] = "    0.000000E+00";
        for (int i = 0; i < 16; ++i) {
            shuffle[Zero_Layout][i] = 0x80;
            fill[Zero_Layout][i] = (unsigned char)(zero[i]);
        }
        for (int negative = 0; negative <= 1; ++negative)
            for (int form = 0; form < Forms; ++form) {
                // Each character: a digit (its index in the digit bytes) or a
                // fixed character.
                int digit[16] = {}, len = 0;
                char fixed_char[16] = {};
                auto put_char = [&](char c) {
                    digit[len] = -1;
                    fixed_char[len++] = c;
                };
                auto put_digit = [&](int p) { digit[len++] = p < 7 ? p + 1 : 0; };
                if (negative)
                    put_char('-');
                if (form < 8) {
                    int e7 = form + 1;
                    for (int p = 0; p < e7; ++p)
                        put_digit(p);
                    put_char('.');
                    for (int p = e7; p < e7 + 6; ++p)
                        put_digit(p);
                } else {
                    int x10 = form - 17 - 1; // E7 - 1, from -10 to 0
                    put_digit(0);
                    put_char('.');
                    for (int p = 1; p < 7; ++p)
                        put_digit(p);
                    put_char('E');
                    put_char(x10 < 0 ? '-' : '+');
                    put_char(char('0' + (x10 < 0 ? -x10 : x10) / 10));
                    put_char(char('0' + (x10 < 0 ? -x10 : x10) % 10));
                }
                const int at = negative * Forms + form, blanks = 16 - len;
                for (int i = 0; i < 16; ++i) {
                    bool is_digit = i >= blanks && digit[i - blanks] >= 0;
                    shuffle[at][i] = is_digit ? (unsigned char)(digit[i - blanks]) : 0x80;
                    fill[at][i] = i < blanks ? ' ' : is_digit ? 0 : fixed_char[i - blanks];
                }
            }
    }
};
constexpr Slot_Layouts Layouts;

// Tables of up to 24 entries looked up in registers: the thresholds of the
// powers of ten, and 5^k (k = 0..16) in two 32-bit halves.
struct Lane_Tables {
    alignas(32) int threshold[24], pow5_lo[24], pow5_hi[24];
    constexpr Lane_Tables() : threshold(), pow5_lo(), pow5_hi() {
        for (int q = 0; q <= Fast_Max_E - Fast_Min_E + 1; ++q)
            threshold[q] = int(Pow10_Bits.v[q]);
        for (int k = 0; k <= Fast_Max_E - Fast_Min_E; ++k) {
            pow5_lo[k] = int(std::uint32_t(Pow5_64.v[k]));
            pow5_hi[k] = int(std::uint32_t(Pow5_64.v[k] >> 32));
        }
    }
};
constexpr Lane_Tables Tables;

constexpr std::uint32_t Slot_Lo = Pow10_Bits.v[0];                           // 1e-10
constexpr std::uint32_t Slot_Hi = Pow10_Bits.v[Fast_Max_E - Fast_Min_E + 1]; // 1e7

inline __m256i Splat(int v) {
    return _mm256_set1_epi32(v);
}
inline __m256i Splat64(long long v) {
    return _mm256_set1_epi64x(v);
}

// t[i] for each lane's i in 0..23.
inline __m256i Look_Up(const int* t, __m256i i) {
    auto part = [&](int at) {
        return _mm256_permutevar8x32_epi32(
            _mm256_load_si256(reinterpret_cast<const __m256i*>(t + at)), i);
    };
    const __m256i low = _mm256_blendv_epi8(part(0), part(8), _mm256_cmpgt_epi32(i, Splat(7)));
    return _mm256_blendv_epi8(low, part(16), _mm256_cmpgt_epi32(i, Splat(15)));
}

// Twice M 5^k shifted right by s, plus one, halved: the seven digits
// rounded half up (four reals in 64-bit lanes).
inline __m256i Rounded_Digits(__m128i M, __m128i lo, __m128i hi, __m128i s) {
    const __m256i M64 = _mm256_cvtepu32_epi64(M);
    const __m256i product =
        _mm256_add_epi64(_mm256_mul_epu32(M64, _mm256_cvtepu32_epi64(lo)),
                         _mm256_slli_epi64(_mm256_mul_epu32(M64, _mm256_cvtepu32_epi64(hi)), 32));
    const __m256i twice =
        _mm256_srlv_epi64(_mm256_slli_epi64(product, 1), _mm256_cvtepu32_epi64(s));
    return _mm256_srli_epi64(_mm256_add_epi64(twice, Splat64(1)), 1);
}

// The digit characters "0d1d2...d7" of four values below 1e7 in 64-bit lanes.
inline __m256i Digit_Chars(__m256i d7) {
    const __m256i q = _mm256_srli_epi64(_mm256_mul_epu32(d7, Splat64(0xd1b71759)), 45); // / 10000
    const __m256i r = _mm256_sub_epi64(d7, _mm256_mul_epu32(q, Splat64(10000)));
    const __m256i t = _mm256_or_si256(q, _mm256_slli_epi64(r, 32)); // 32-bit lanes below 10000
    const __m256i a = _mm256_srli_epi32(_mm256_mullo_epi32(t, Splat(5243)), 19); // / 100
    const __m256i b = _mm256_sub_epi32(t, _mm256_mullo_epi32(a, Splat(100)));
    const __m256i w = _mm256_or_si256(a, _mm256_slli_epi32(b, 16)); // 16-bit lanes below 100
    const __m256i tens = _mm256_srli_epi16(_mm256_mullo_epi16(w, _mm256_set1_epi16(205)), 11);
    const __m256i ones = _mm256_sub_epi16(w, _mm256_mullo_epi16(tens, _mm256_set1_epi16(10)));
    return _mm256_or_si256(_mm256_or_si256(tens, _mm256_slli_epi16(ones, 8)),
                           _mm256_set1_epi8('0'));
}

// Four 64-bit lanes of a and four of b as eight 32-bit lanes, a first.
inline __m256i Narrow(__m256i a, __m256i b) {
    const __m256i mixed = _mm256_blend_epi32(a, _mm256_slli_epi64(b, 32), 0xaa);
    return _mm256_permutevar8x32_epi32(mixed, _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7));
}

void Eight_Slots(const float* x, char* out) {
    const __m256i bits = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x));
    const __m256i abs = _mm256_and_si256(bits, Splat(0x7fffffff));
    const __m256i in_range = _mm256_and_si256(_mm256_cmpgt_epi32(abs, Splat(int(Slot_Lo) - 1)),
                                              _mm256_cmpgt_epi32(Splat(int(Slot_Hi)), abs));
    // Lanes out of range are worked as 1.0, then written over.
    const __m256i mag = _mm256_blendv_epi8(Splat(0x3f800000), abs, in_range);
    const __m256i biased = _mm256_srli_epi32(mag, 23);
    const __m256i M = _mm256_or_si256(_mm256_and_si256(mag, Splat(0x7fffff)), Splat(0x800000));
    // E = floor(log10 |x|) + 1: the guess from floor(log2 |x|), then one
    // more where |x| reaches the next power of ten.
    const __m256i guess = _mm256_add_epi32(
        _mm256_srai_epi32(_mm256_mullo_epi32(_mm256_sub_epi32(biased, Splat(127)), Splat(78913)),
                          18),
        Splat(1));
    const __m256i threshold =
        Look_Up(Tables.threshold, _mm256_sub_epi32(guess, Splat(Fast_Min_E - 1)));
    const __m256i E =
        _mm256_add_epi32(_mm256_add_epi32(guess, Splat(1)), _mm256_cmpgt_epi32(threshold, mag));
    const __m256i k = _mm256_sub_epi32(Splat(7), E);
    const __m256i s = _mm256_sub_epi32(_mm256_sub_epi32(Splat(150), biased), k); // -(k + e)
    const __m256i lo = Look_Up(Tables.pow5_lo, k), hi = Look_Up(Tables.pow5_hi, k);
    __m256i d_a = Rounded_Digits(_mm256_castsi256_si128(M), _mm256_castsi256_si128(lo),
                                 _mm256_castsi256_si128(hi), _mm256_castsi256_si128(s));
    __m256i d_b = Rounded_Digits(_mm256_extracti128_si256(M, 1), _mm256_extracti128_si256(lo, 1),
                                 _mm256_extracti128_si256(hi, 1), _mm256_extracti128_si256(s, 1));
    // A carry out of the first digit: 10000000 -> 1000000, one more E.
    const __m256i carry_a = _mm256_cmpeq_epi64(d_a, Splat64(10000000));
    const __m256i carry_b = _mm256_cmpeq_epi64(d_b, Splat64(10000000));
    d_a = _mm256_blendv_epi8(d_a, Splat64(1000000), carry_a);
    d_b = _mm256_blendv_epi8(d_b, Splat64(1000000), carry_b);
    const __m256i E7 = _mm256_sub_epi32(E, Narrow(carry_a, carry_b));
    // The form is judged on E before the rounding: fixed for 1 <= E <= 7.
    const __m256i fixed =
        _mm256_and_si256(_mm256_cmpgt_epi32(E, Splat(0)), _mm256_cmpgt_epi32(Splat(8), E));
    const __m256i form =
        _mm256_add_epi32(_mm256_sub_epi32(E7, Splat(1)), _mm256_andnot_si256(fixed, Splat(18)));
    const __m256i zero = _mm256_cmpeq_epi32(abs, _mm256_setzero_si256());
    const __m256i layout = _mm256_blendv_epi8(
        _mm256_add_epi32(form, _mm256_mullo_epi32(_mm256_srli_epi32(bits, 31), Splat(Forms))),
        Splat(Zero_Layout), zero);

    alignas(32) unsigned char digits[64];
    alignas(32) int which[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(digits), Digit_Chars(d_a));
    _mm256_store_si256(reinterpret_cast<__m256i*>(digits + 32), Digit_Chars(d_b));
    _mm256_store_si256(reinterpret_cast<__m256i*>(which), layout);
    for (int v = 0; v < 8; ++v) {
        const __m128i chars = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(digits + 8 * v));
        const __m128i shuffle =
            _mm_load_si128(reinterpret_cast<const __m128i*>(Layouts.shuffle[which[v]]));
        const __m128i fill =
            _mm_load_si128(reinterpret_cast<const __m128i*>(Layouts.fill[which[v]]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * v),
                         _mm_or_si128(_mm_shuffle_epi8(chars, shuffle), fill));
    }
    int outside = ~_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_or_si256(in_range, zero))) & 0xff;
    while (outside != 0) {
        int v = __builtin_ctz(unsigned(outside));
        Real_Slot(x[v], out + 16 * v);
        outside &= outside - 1;
    }
}

} // namespace
#endif

void Real_Slots(const float* x, int count, char* out) {
    int i = 0;
#if defined(__AVX2__)
    for (; i + 8 <= count; i += 8)
        Eight_Slots(x + i, out + Real_Slot_Width * i);
#endif
    for (; i < count; ++i)
        Real_Slot(x[i], out + Real_Slot_Width * i);
}

} // namespace textio

// This build of Real_Slots, with AVX2 or without (the build renames the table
// for each).
extern const textio::Real_Slots_Kernels Real_Slots_Table = {textio::Real_Slots};
