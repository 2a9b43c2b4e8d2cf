#pragma once
// One row of a nine-direction distribution held as nine planes, one a
// direction (structure of arrays), so that loops over the nodes of a row
// vectorise. The field arrays themselves keep the nine values of a node side
// by side; these helpers move a row between the two layouts.
#include <cstddef>
#include <vector>

struct Row_Planes {
    std::size_t stride = 0; // floats from one plane to the next
    std::vector<float> data;

    void Resize(int nodes) {
        stride = (std::size_t(nodes) + 15) / 16 * 16;
        data.assign(9 * stride, 0.0f);
    }
    float* operator[](int k) { return data.data() + std::size_t(k) * stride; }
    const float* operator[](int k) const { return data.data() + std::size_t(k) * stride; }
};

// Nine planes at a fixed stride, passed by value into the kernels so that
// the compiler addresses all nine from one base register.
struct Plane_Set {
    float* base;
    std::size_t stride;
    float* operator[](int k) const { return base + std::size_t(k) * stride; }
};
inline Plane_Set Planes_At(Row_Planes& p, int offset) {
    return {p[0] + offset, p.stride};
}

// planes[k][q] = nodes[9 q + k] for q = 0..count-1, writing at plane offset `at`.
void Planes_From_Nodes(const float* nodes, int count, Row_Planes& planes, int at = 0);

// nodes[9 q + k] = planes[k][at + q] for q = 0..count-1.
void Nodes_From_Planes(const Row_Planes& planes, int count, float* nodes, int at = 0);

// out[q] = planes[0][q] + planes[1][q] + ... + planes[8][q], a single-
// precision running sum from +0 in direction order (density, temperature).
void Sum_Directions(const float* const* planes, int count, float* out);

// nodes[9 q + k] = planes[k][q] for q = 0..count-1, planes given one by one.
void Nodes_From_Planes(const float* const* planes, int count, float* nodes);
