#pragma once
// The lanes of the kernels as each instruction set's build has them, for the
// tests: lattice/lanes_probe.cpp is built for each set, as the kernels are
// (tests/CMakeLists.txt), and Lanes_Probe_In_Use gives the build of the set
// in use.
#include <cstddef>

struct Lanes_Probe {
    // q[i] = x[i] / divisor, i < count, by lanes of `width` doubles (1, 4 or
    // 8) with the divisor of Divisor_Of.
    void (*quotients)(const double* x, std::size_t count, float divisor, int width, double* q);
    // ++seen[i] for every lane of every block For_Each_Block gives over
    // `count` nodes; false if a lane lies beyond them.
    bool (*blocks)(int count, int* seen);
};

const Lanes_Probe& Lanes_Probe_In_Use();
