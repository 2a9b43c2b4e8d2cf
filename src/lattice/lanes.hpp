#pragma once
#if defined(__AVX__) || defined(__FMA__)
#include <immintrin.h>
#endif
// Lanes of doubles and of floats for the fast kernels, in the compiler's
// vector extension: each lane is computed exactly as the scalar code would
// (same IEEE operations, same roundings), so a kernel written once as a
// template over Real (double, V4d or V8d) gives the same bits in every form.
// Where the build lacks the instructions for a width, the compiler splits
// the lanes into narrower vectors.

typedef double V4d __attribute__((vector_size(32)));
typedef float V4f __attribute__((vector_size(16)));
typedef double V8d __attribute__((vector_size(64)));
typedef float V8f __attribute__((vector_size(32)));
// The same floats at any float-aligned address.
typedef float V4f_Unaligned __attribute__((vector_size(16), aligned(4), may_alias));
typedef float V8f_Unaligned __attribute__((vector_size(32), aligned(4), may_alias));

#if defined(__FMA__)
// a b + c in one rounding.
inline double Fused_Multiply_Add(double a, double b, double c) {
    return _mm_cvtsd_f64(_mm_fmadd_sd(_mm_set_sd(a), _mm_set_sd(b), _mm_set_sd(c)));
}
#endif

// The lanes of the kernels: eight where the build has AVX-512 (or the
// build asks for them, CAVITY_EIGHT_LANES, to test them anywhere), else four.
#if defined(__AVX512F__) || defined(CAVITY_EIGHT_LANES)
using Wide = V8d;
#else
using Wide = V4d;
#endif

// A positive divisor and its reciprocal as two doubles, y + y_lo, for
// quotients computed as the division instruction rounds them (Divide below).
// Other divisors are left to the division itself (a zero one must raise its
// flag).
struct Divisor {
    double d, y, y_lo;
    bool by_reciprocal;
};
Divisor Divisor_Of(float d);

// Lane types of a real type: the float counterpart, loads, stores,
// roundings, the quotient by a divisor, and a b + c where the product a b
// is exact (so that the fused multiply-add, where there is one, gives the
// same value in one instruction).
template <class Real> struct Lanes;

template <> struct Lanes<double> {
    using Single = float;
    static constexpr int Count = 1;
    static double Load(const float* p) { return *p; }
    static float Load_Single(const float* p) { return *p; }
    static void Store(float* p, float x) { *p = x; }
    static float Round(double x) { return float(x); }
    static double Widen(float x) { return x; }
    template <bool By_Reciprocal> static double Divide(double x, const Divisor& q) {
        return x / q.d;
    }
    static double Add_Exact_Product(double a, double b, double c) {
#if defined(__FMA__)
        return Fused_Multiply_Add(a, b, c);
#else
        return a * b + c;
#endif
    }
};

// The correctly rounded quotient x / d of a positive d without the divider,
// whose throughput would bound the whole step. With the reciprocal to about
// 106 bits, q0 = x y + x y_lo (one rounding, the small product's own
// rounding far below it) is within an ulp of x / d: a faithful quotient. Its
// remainder x - q0 d is then exactly representable, one fused multiply-add
// gives it exactly, and q0 + r y rounded is the correctly rounded quotient
// (Markstein's theorem: a faithful quotient, y the reciprocal rounded to
// nearest, an exact remainder). Operands here are differences of floats and
// float divisors, so nothing underflows or overflows on the way. A zero x
// gets the quotient +0; the sign of x, which the division gives it, is put
// back by its sign bit (any other quotient has that sign already).
#if defined(__FMA__)
template <class V, class Fma, class Fnma>
inline V Correctly_Rounded(V x, V d, V y, V y_lo, Fma fma, Fnma fnma) {
    typedef long long Bits __attribute__((vector_size(sizeof(V))));
    const V q0 = fma(x, y, x * y_lo);
    const V q = fma(fnma(q0, d, x), y, q0);
#if defined(__AVX512F__)
    if constexpr (sizeof(V) == 64) // q | (x & sign) in one instruction
        return V(_mm512_ternarylogic_epi64(__m512i(q), __m512i(x), __m512i(-V{}), 0xF8));
#endif
    return V(Bits(q) | (Bits(x) & Bits(-V{})));
}
inline V4d Divide_Lanes(V4d x, const Divisor& q) {
    auto fma = [](V4d a, V4d b, V4d c) { return V4d(_mm256_fmadd_pd(a, b, c)); };
    auto fnma = [](V4d a, V4d b, V4d c) { return V4d(_mm256_fnmadd_pd(a, b, c)); };
    return Correctly_Rounded(x, V4d(_mm256_set1_pd(q.d)), V4d(_mm256_set1_pd(q.y)),
                             V4d(_mm256_set1_pd(q.y_lo)), fma, fnma);
}
inline V8d Divide_Lanes(V8d x, const Divisor& q) {
#if defined(__AVX512F__)
    auto fma = [](V8d a, V8d b, V8d c) { return V8d(_mm512_fmadd_pd(a, b, c)); };
    auto fnma = [](V8d a, V8d b, V8d c) { return V8d(_mm512_fnmadd_pd(a, b, c)); };
    return Correctly_Rounded(x, V8d(_mm512_set1_pd(q.d)), V8d(_mm512_set1_pd(q.y)),
                             V8d(_mm512_set1_pd(q.y_lo)), fma, fnma);
#else
    const V4d lo = Divide_Lanes(V4d{x[0], x[1], x[2], x[3]}, q);
    const V4d hi = Divide_Lanes(V4d{x[4], x[5], x[6], x[7]}, q);
    return V8d{lo[0], lo[1], lo[2], lo[3], hi[0], hi[1], hi[2], hi[3]};
#endif
}
#endif

template <> struct Lanes<V4d> {
    using Single = V4f;
    static constexpr int Count = 4;
    static V4f Load_Single(const float* p) { return *reinterpret_cast<const V4f_Unaligned*>(p); }
    static V4d Load(const float* p) { return Widen(Load_Single(p)); }
    static void Store(float* p, V4f x) { *reinterpret_cast<V4f_Unaligned*>(p) = x; }
    static V4f Round(V4d x) { return __builtin_convertvector(x, V4f); }
    static V4d Widen(V4f x) {
#if defined(__AVX__)
        return V4d(_mm256_cvtps_pd(__m128(x))); // one instruction; the generic form takes four
#else
        return __builtin_convertvector(x, V4d);
#endif
    }
    static V4d Add_Exact_Product(V4d a, V4d b, V4d c) {
#if defined(__FMA__)
        return V4d(_mm256_fmadd_pd(a, b, c));
#else
        return a * b + c;
#endif
    }
    template <bool By_Reciprocal> static V4d Divide(V4d x, const Divisor& q) {
#if defined(__FMA__)
        if constexpr (By_Reciprocal)
            return Divide_Lanes(x, q);
#endif
        return x / q.d;
    }
};

template <> struct Lanes<V8d> {
    using Single = V8f;
    static constexpr int Count = 8;
    static V8f Load_Single(const float* p) { return *reinterpret_cast<const V8f_Unaligned*>(p); }
    static V8d Load(const float* p) { return Widen(Load_Single(p)); }
    static void Store(float* p, V8f x) { *reinterpret_cast<V8f_Unaligned*>(p) = x; }
    static V8f Round(V8d x) { return __builtin_convertvector(x, V8f); }
    static V8d Widen(V8f x) {
#if defined(__AVX512F__)
        // The all-lanes mask compiles to the plain instruction; the unmasked
        // intrinsic draws a false uninitialised-value warning from GCC 12.
        return V8d(_mm512_maskz_cvtps_pd(__mmask8(0xFF), __m256(x)));
#else
        return __builtin_convertvector(x, V8d);
#endif
    }
    static V8d Add_Exact_Product(V8d a, V8d b, V8d c) {
#if defined(__AVX512F__)
        return V8d(_mm512_fmadd_pd(a, b, c));
#else
        return a * b + c;
#endif
    }
    template <bool By_Reciprocal> static V8d Divide(V8d x, const Divisor& q) {
#if defined(__FMA__)
        if constexpr (By_Reciprocal)
            return Divide_Lanes(x, q);
#endif
        return x / q.d;
    }
};

// Runs kernel.template operator()<Real>(x) over x = 0..count-1 in blocks of
// the widest lanes, then of four, then one by one. A last partial block is
// run again over the last full width (overlapping blocks compute the same
// values again), so the kernels must read and write distinct arrays.
template <class Kernel> inline void For_Each_Block(int count, Kernel&& kernel) {
    constexpr int w = Lanes<Wide>::Count;
    if (count >= w) {
        int x = 0;
        for (; x + w <= count; x += w)
            kernel.template operator()<Wide>(x);
        if (x < count)
            kernel.template operator()<Wide>(count - w);
        return;
    }
    int x = 0;
    if constexpr (w > 4) {
        if (count >= 4) {
            kernel.template operator()<V4d>(0);
            if (count > 4)
                kernel.template operator()<V4d>(count - 4);
            return;
        }
    }
    for (; x < count; ++x)
        kernel.template operator()<double>(x);
}

// For_Each_Block of kernel<Real, By_Reciprocal>(x), with the quotient by
// `tau` in the form it allows (through its reciprocal, or the division).
template <class Kernel> inline void For_Each_Block(int count, const Divisor& tau, Kernel&& kernel) {
    if (tau.by_reciprocal)
        For_Each_Block(count,
                       [&]<class Real>(int x) { kernel.template operator()<Real, true>(x); });
    else
        For_Each_Block(count,
                       [&]<class Real>(int x) { kernel.template operator()<Real, false>(x); });
}
