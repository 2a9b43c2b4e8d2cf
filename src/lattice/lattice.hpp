#pragma once
// The D2Q9 lattice shared by the flow and the temperature distributions, and
// the index helpers of the field arrays.
//
// Directions: 0 rest, 1 east, 2 north, 3 west, 4 south, 5 north-east,
// 6 north-west, 7 south-west, 8 south-east.
//
// Nodes (i, j), i = 0..n along x (hot wall i = 0, cold wall i = n), j = 0..m
// along y (bottom wall j = 0, top wall j = m). Two-dimensional fields have i
// fastest; three-dimensional fields have the direction fastest, so the nine
// values of a node lie side by side.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

using Field = std::vector<float>;

// One copy in every translation unit (internal linkage): the kernels built
// for several instruction sets keep theirs to themselves, whatever the build
// emits of them (an instrumented or unoptimised build does).
constexpr float Ex[9] = {0.0f, 1.0f, 0.0f, -1.0f, 0.0f, 1.0f, -1.0f, -1.0f, 1.0f};
constexpr float Ey[9] = {0.0f, 0.0f, 1.0f, 0.0f, -1.0f, 1.0f, 1.0f, -1.0f, -1.0f};
constexpr float W[9] = {4.0f / 9.0f,  1.0f / 9.0f,  1.0f / 9.0f,  1.0f / 9.0f, 1.0f / 9.0f,
                        1.0f / 36.0f, 1.0f / 36.0f, 1.0f / 36.0f, 1.0f / 36.0f};
// The direction opposite each direction.
constexpr int Opposite[9] = {0, 3, 4, 1, 2, 7, 8, 5, 6};

static_assert(std::bit_cast<std::uint32_t>(W[0]) == 0x3EE38E39u);
static_assert(std::bit_cast<std::uint32_t>(W[1]) == 0x3DE38E39u);
static_assert(std::bit_cast<std::uint32_t>(W[5]) == 0x3CE38E39u);

// Element (i, j) of a two-dimensional field.
inline std::size_t Node(int n, int i, int j) {
    return std::size_t(i) + (std::size_t(n) + 1) * std::size_t(j);
}

// Element (k, i, j) of a three-dimensional field.
inline std::size_t Dist(int n, int k, int i, int j) {
    return std::size_t(k) + 9 * Node(n, i, j);
}

inline std::size_t Node_Count(int n, int m) {
    return (std::size_t(n) + 1) * (std::size_t(m) + 1);
}
