#include "lattice/row_streaming.hpp"

namespace {

// dest[i] = src[i + shift] where the source lies on the row, else keep[i].
void Shift(int n, const float* src, int shift, const float* keep, float* dest) {
    if (shift == 0) {
        for (int i = 0; i <= n; ++i)
            dest[i] = src[i];
    } else if (shift < 0) { // from the left neighbour
        dest[0] = keep[0];
        for (int i = 1; i <= n; ++i)
            dest[i] = src[i - 1];
    } else { // from the right neighbour
        for (int i = 0; i <= n - 1; ++i)
            dest[i] = src[i + 1];
        dest[n] = keep[n];
    }
}

void Keep(int n, const float* keep, float* dest) {
    for (int i = 0; i <= n; ++i)
        dest[i] = keep[i];
}

} // namespace

void Stream_Row(int n, int m, int j, const Rows_Around& r, Plane_Set dest) {
    const Plane_Set below = r.below, here = r.here, above = r.above;
    // Direction k arrives from (i - Ex(k), j - Ey(k)).
    Keep(n, here[0], dest[0]);
    Shift(n, here[1], -1, here[1], dest[1]);
    Shift(n, here[3], +1, here[3], dest[3]);
    if (j >= 1) {
        Shift(n, below[2], 0, here[2], dest[2]);
        Shift(n, below[5], -1, here[5], dest[5]);
        Shift(n, below[6], +1, here[6], dest[6]);
    } else {
        Keep(n, here[2], dest[2]);
        Keep(n, here[5], dest[5]);
        Keep(n, here[6], dest[6]);
    }
    if (j <= m - 1) {
        Shift(n, above[4], 0, here[4], dest[4]);
        Shift(n, above[7], +1, here[7], dest[7]);
        Shift(n, above[8], -1, here[8], dest[8]);
    } else {
        Keep(n, here[4], dest[4]);
        Keep(n, here[7], dest[7]);
        Keep(n, here[8], dest[8]);
    }
}
