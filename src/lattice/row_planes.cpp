#include "lattice/row_planes.hpp"

#include "lattice/vectorize.hpp"

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

// Runs block(b) over count >= 8 items in blocks of eight; the last block is
// run again at count - 8, overlapping, which rewrites the same values.
template <class Block> void Each_Block_Of_Eight(int count, Block block) {
    int q = 0;
    for (; q + 8 <= count; q += 8)
        block(q);
    if (q < count)
        block(count - 8);
}
#endif

} // namespace

void Planes_From_Nodes(const float* nodes, int count, Row_Planes& planes, int at) {
    int q = 0;
#if defined(__AVX2__)
    if (count >= 8) {
        float* const out = planes[0] + at;
        const std::size_t stride = planes.stride;
        auto block = [&](int b) {
            const float* base = nodes + 9 * b;
            __m256 r[8];
            for (int p = 0; p < 8; ++p)
                r[p] = _mm256_loadu_ps(base + 9 * p + 1);
            Transpose8(r);
            for (int k = 1; k <= 8; ++k)
                _mm256_storeu_ps(out + k * stride + b, r[k - 1]);
            // Direction 0 by plain moves: they need no shuffle unit.
            for (int p = 0; p < 8; ++p)
                out[b + p] = base[9 * p];
        };
        Each_Block_Of_Eight(count, block);
        return;
    }
#endif
    for (; q < count; ++q)
        for (int k = 0; k <= 8; ++k)
            planes[k][at + q] = nodes[9 * q + k];
}

void Nodes_From_Planes(const float* const* planes, int count, float* nodes) {
    int q = 0;
#if defined(__AVX2__)
    if (count >= 8) {
        const float *p0 = planes[0], *p1 = planes[1], *p2 = planes[2], *p3 = planes[3],
                    *p4 = planes[4], *p5 = planes[5], *p6 = planes[6], *p7 = planes[7],
                    *p8 = planes[8];
        auto block = [&](int b) {
            float* base = nodes + 9 * b;
            __m256 r[8] = {_mm256_loadu_ps(p1 + b), _mm256_loadu_ps(p2 + b),
                           _mm256_loadu_ps(p3 + b), _mm256_loadu_ps(p4 + b),
                           _mm256_loadu_ps(p5 + b), _mm256_loadu_ps(p6 + b),
                           _mm256_loadu_ps(p7 + b), _mm256_loadu_ps(p8 + b)};
            Transpose8(r);
            for (int p = 0; p < 8; ++p)
                _mm256_storeu_ps(base + 9 * p + 1, r[p]);
            for (int p = 0; p < 8; ++p)
                base[9 * p] = p0[b + p];
        };
        Each_Block_Of_Eight(count, block);
        return;
    }
#endif
    for (; q < count; ++q)
        for (int k = 0; k <= 8; ++k)
            nodes[9 * q + k] = planes[k][q];
}

void Nodes_From_Planes(const Row_Planes& planes, int count, float* nodes, int at) {
    const float* p[9];
    for (int k = 0; k <= 8; ++k)
        p[k] = planes[k] + at;
    Nodes_From_Planes(p, count, nodes);
}

void Sum_Directions(const float* const* planes, int count, float* __restrict out) {
    const float* __restrict p0 = planes[0];
    const float* __restrict p1 = planes[1];
    const float* __restrict p2 = planes[2];
    const float* __restrict p3 = planes[3];
    const float* __restrict p4 = planes[4];
    const float* __restrict p5 = planes[5];
    const float* __restrict p6 = planes[6];
    const float* __restrict p7 = planes[7];
    const float* __restrict p8 = planes[8];
    INDEPENDENT_ITERATIONS
    for (int q = 0; q < count; ++q) {
        float s = 0.0f;
        s += p0[q];
        s += p1[q];
        s += p2[q];
        s += p3[q];
        s += p4[q];
        s += p5[q];
        s += p6[q];
        s += p7[q];
        s += p8[q];
        out[q] = s;
    }
}
