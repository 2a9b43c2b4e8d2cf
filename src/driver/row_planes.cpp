#include "driver/row_planes.hpp"

#if defined(__AVX2__)
#include <immintrin.h>
#endif

namespace {

#if defined(__AVX2__)
// r[q][k] -> c[k][q] for an 8 x 8 block of floats.
inline void Transpose8(__m256 r[8]) {
    __m256 t0 = _mm256_unpacklo_ps(r[0], r[1]), t1 = _mm256_unpackhi_ps(r[0], r[1]);
    __m256 t2 = _mm256_unpacklo_ps(r[2], r[3]), t3 = _mm256_unpackhi_ps(r[2], r[3]);
    __m256 t4 = _mm256_unpacklo_ps(r[4], r[5]), t5 = _mm256_unpackhi_ps(r[4], r[5]);
    __m256 t6 = _mm256_unpacklo_ps(r[6], r[7]), t7 = _mm256_unpackhi_ps(r[6], r[7]);
    __m256 u0 = _mm256_shuffle_ps(t0, t2, 0x44), u1 = _mm256_shuffle_ps(t0, t2, 0xEE);
    __m256 u2 = _mm256_shuffle_ps(t1, t3, 0x44), u3 = _mm256_shuffle_ps(t1, t3, 0xEE);
    __m256 u4 = _mm256_shuffle_ps(t4, t6, 0x44), u5 = _mm256_shuffle_ps(t4, t6, 0xEE);
    __m256 u6 = _mm256_shuffle_ps(t5, t7, 0x44), u7 = _mm256_shuffle_ps(t5, t7, 0xEE);
    r[0] = _mm256_permute2f128_ps(u0, u4, 0x20);
    r[1] = _mm256_permute2f128_ps(u1, u5, 0x20);
    r[2] = _mm256_permute2f128_ps(u2, u6, 0x20);
    r[3] = _mm256_permute2f128_ps(u3, u7, 0x20);
    r[4] = _mm256_permute2f128_ps(u0, u4, 0x31);
    r[5] = _mm256_permute2f128_ps(u1, u5, 0x31);
    r[6] = _mm256_permute2f128_ps(u2, u6, 0x31);
    r[7] = _mm256_permute2f128_ps(u3, u7, 0x31);
}
#endif

} // namespace

void Planes_From_Nodes(const float* nodes, int count, Row_Planes& planes, int at) {
    int q = 0;
#if defined(__AVX2__)
    const __m256i rest = _mm256_setr_epi32(0, 9, 18, 27, 36, 45, 54, 63);
    for (; q + 8 <= count; q += 8) {
        const float* base = nodes + 9 * q;
        __m256 r[8];
        for (int p = 0; p < 8; ++p)
            r[p] = _mm256_loadu_ps(base + 9 * p + 1);
        Transpose8(r);
        for (int k = 1; k <= 8; ++k)
            _mm256_storeu_ps(planes[k] + at + q, r[k - 1]);
        _mm256_storeu_ps(planes[0] + at + q, _mm256_i32gather_ps(base, rest, 4));
    }
#endif
    for (; q < count; ++q)
        for (int k = 0; k <= 8; ++k)
            planes[k][at + q] = nodes[9 * q + k];
}

void Nodes_From_Planes(const float* const* planes, int count, float* nodes) {
    int q = 0;
#if defined(__AVX2__)
    for (; q + 8 <= count; q += 8) {
        float* base = nodes + 9 * q;
        __m256 r[8];
        for (int k = 1; k <= 8; ++k)
            r[k - 1] = _mm256_loadu_ps(planes[k] + q);
        Transpose8(r);
        for (int p = 0; p < 8; ++p)
            _mm256_storeu_ps(base + 9 * p + 1, r[p]);
        const float* rest = planes[0] + q;
        for (int p = 0; p < 8; ++p)
            base[9 * p] = rest[p];
    }
#endif
    for (; q < count; ++q)
        for (int k = 0; k <= 8; ++k)
            nodes[9 * q + k] = planes[k][q];
}

void Nodes_From_Planes(const Row_Planes& planes, int at, int count, float* nodes) {
    const float* p[9];
    for (int k = 0; k <= 8; ++k)
        p[k] = planes[k] + at;
    Nodes_From_Planes(p, count, nodes);
}
