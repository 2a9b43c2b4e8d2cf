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

void Planes_From_Nodes(const float* nodes, int count, Plane_Set planes) {
    int q = 0;
#if defined(__AVX2__)
    if (count >= 8) {
        auto block = [&](int b) {
            const float* base = nodes + 9 * b;
            __m256 r[8];
            for (int p = 0; p < 8; ++p)
                r[p] = _mm256_loadu_ps(base + 9 * p + 1);
            Transpose8(r);
            for (int k = 1; k <= 8; ++k)
                _mm256_storeu_ps(planes[k] + b, r[k - 1]);
            // Direction 0 by plain moves: they need no shuffle unit.
            for (int p = 0; p < 8; ++p)
                planes[0][b + p] = base[9 * p];
        };
        Each_Block_Of_Eight(count, block);
        return;
    }
#endif
    for (; q < count; ++q)
        for (int k = 0; k <= 8; ++k)
            planes[k][q] = nodes[9 * q + k];
}

void Nodes_From_Planes(Plane_Set planes, int count, float* nodes) {
    int q = 0;
#if defined(__AVX2__)
    if (count >= 8) {
        auto block = [&](int b) {
            float* base = nodes + 9 * b;
            __m256 r[8];
            for (int k = 1; k <= 8; ++k)
                r[k - 1] = _mm256_loadu_ps(planes[k] + b);
            Transpose8(r);
            for (int p = 0; p < 8; ++p)
                _mm256_storeu_ps(base + 9 * p + 1, r[p]);
            for (int p = 0; p < 8; ++p)
                base[9 * p] = planes[0][b + p];
        };
        Each_Block_Of_Eight(count, block);
        return;
    }
#endif
    for (; q < count; ++q)
        for (int k = 0; k <= 8; ++k)
            nodes[9 * q + k] = planes[k][q];
}

void Rows_From_Nodes(const float* nodes, int j0, int j1, Distribution_Rows& rows) {
    const std::size_t row = 9 * (std::size_t(rows.n) + 1);
    for (int j = j0; j < j1; ++j)
        Planes_From_Nodes(nodes + row * std::size_t(j - j0), rows.n + 1, rows.Row(j));
}

void Nodes_From_Rows(Distribution_Rows& rows, int j0, int j1, float* nodes) {
    const std::size_t row = 9 * (std::size_t(rows.n) + 1);
    for (int j = j0; j < j1; ++j)
        Nodes_From_Planes(rows.Row(j), rows.n + 1, nodes + row * std::size_t(j - j0));
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
