#pragma once
#if defined(__AVX__)
#include <immintrin.h>
#endif
// Four lanes of doubles and of floats for the fast kernels, in the
// compiler's vector extension: each lane is computed exactly as the scalar
// code would (same IEEE operations, same roundings), so a kernel written
// once as a template over Real (double or V4d) gives the same bits in both
// forms. Without AVX the compiler splits the lanes into narrower vectors.

typedef double V4d __attribute__((vector_size(32)));
typedef float V4f __attribute__((vector_size(16)));
// The same four floats at any float-aligned address.
typedef float V4f_Unaligned __attribute__((vector_size(16), aligned(4), may_alias));

// Lane types of a real type: the float counterpart and loads and stores.
template <class Real> struct Lanes;

template <> struct Lanes<double> {
    using Single = float;
    static double Load(const float* p) { return *p; }
    static float Load_Single(const float* p) { return *p; }
    static void Store(float* p, float x) { *p = x; }
    static float Round(double x) { return float(x); }
    static double Widen(float x) { return x; }
};

template <> struct Lanes<V4d> {
    using Single = V4f;
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
};
