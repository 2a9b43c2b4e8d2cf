#pragma once
// The set of kernels a run takes (lattice/kernel_set.hpp): the widest the
// build holds and the processor runs, or the one the environment variable
// CAVITY_KERNELS names (baseline, avx2 or avx512), to compare them or to run
// as an older processor would. Every set gives the same bytes.
#include <stdexcept>
#include <string>

// A set the run cannot take; its text reads as a usage error.
struct Kernel_Choice_Error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Puts the set to use for every kernel, from `forced` (the variable's value;
// null or empty: none). A set the build does not hold, or the processor
// does not run, is a Kernel_Choice_Error naming it and the sets that would
// do.
void Choose_Kernels(const char* forced);

// The set in use and those the build holds, for --version:
// "avx2 kernels of baseline, avx2, avx512".
std::string Kernels_Text();
