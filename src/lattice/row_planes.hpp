#pragma once
// Rows of a nine-direction distribution held as nine planes, one a
// direction (structure of arrays), so that loops over the nodes of a row
// vectorise: the storage of the fast step. The field arrays of the
// straightforward procedures keep the nine values of a node side by side;
// these helpers move rows between the two layouts.
#include "lattice/lattice.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

// Nine planes at a fixed stride: one row. Passed by value into the
// kernels, so that the compiler addresses all nine from one base register.
struct Plane_Set {
    float* base;
    std::size_t stride; // floats from one plane to the next
    float* operator[](int k) const { return base + std::size_t(k) * stride; }
    // The same planes from node i on.
    Plane_Set From(int i) const { return {base + i, stride}; }
};

// Floats a plane of a row of `nodes` nodes takes: a whole number of 64-byte
// lines, so that every plane starts on a line.
inline std::size_t Plane_Stride(int nodes) {
    return (std::size_t(nodes) + 15) / 16 * 16;
}

// One row held on its own (the collided rows of the fast step).
struct Row_Planes {
    std::size_t stride = 0;
    std::vector<float> data;

    void Resize(int nodes) {
        stride = Plane_Stride(nodes);
        data.assign(9 * stride, 0.0f);
    }
    float* operator[](int k) { return data.data() + std::size_t(k) * stride; }
    const float* operator[](int k) const { return data.data() + std::size_t(k) * stride; }
    Plane_Set Planes() { return {data.data(), stride}; }
};

// Asks the system for large pages for the memory at p, before it is first
// touched: the distributions are swept whole every step, and with pages of
// 4 KiB their addresses outgrow the processor's translation buffers.
void Prefer_Huge_Pages(void* p, std::size_t bytes);

// A whole distribution, rows j = 0..m of n + 1 nodes, each row as nine
// planes. The floats are one Field, whose first 9 (n + 1)(m + 1) elements can
// serve as a distribution in the order of the field arrays when the rows
// are not needed (Field_Order).
struct Distribution_Rows {
    int n = -1, m = -1;
    std::size_t stride = 0;
    std::size_t offset = 0; // the first float on a 64-byte line
    Field store;

    void Resize(int n_, int m_) {
        n = n_;
        m = m_;
        stride = Plane_Stride(n + 1);
        const std::size_t floats = 9 * stride * (std::size_t(m) + 1) + 16;
        Field().swap(store);
        store.reserve(floats);
        Prefer_Huge_Pages(store.data(), floats * sizeof(float));
        store.assign(floats, 0.0f);
        offset = (64 - reinterpret_cast<std::uintptr_t>(store.data()) % 64) % 64 / sizeof(float);
    }
    Plane_Set Row(int j) { return {store.data() + offset + 9 * stride * std::size_t(j), stride}; }
    // The storage as a distribution in field order (node-major); its rows
    // are then lost.
    Field& Field_Order() { return store; }
};

// planes[k][q] = nodes[9 q + k] for q = 0..count-1.
void Planes_From_Nodes(const float* nodes, int count, Plane_Set planes);

// nodes[9 q + k] = planes[k][q] for q = 0..count-1.
void Nodes_From_Planes(Plane_Set planes, int count, float* nodes);

// out[q] = planes[0][q] + planes[1][q] + ... + planes[8][q], a single-
// precision running sum from +0 in direction order (density, temperature).
void Sum_Directions(const float* const* planes, int count, float* out);
inline void Sum_Directions(Plane_Set planes, int count, float* out) {
    const float* p[9];
    for (int k = 0; k <= 8; ++k)
        p[k] = planes[k];
    Sum_Directions(p, count, out);
}

// Rows j0 .. j1 - 1 of a distribution between the rows of nine planes and
// field order (node-major, `nodes` pointing at row j0).
void Rows_From_Nodes(const float* nodes, int j0, int j1, Distribution_Rows& rows);
void Nodes_From_Rows(Distribution_Rows& rows, int j0, int j1, float* nodes);
