#pragma once
// The instruction sets the kernels (the fast steps, the residual sums, the
// row machinery) are built for, and the one they run. A build for x86-64
// holds all three and runs the widest the processor has; a build of one set
// (CAVITY_PORTABLE, CAVITY_NATIVE, another processor) holds the set its
// flags give. Every set gives the same bytes.
#include <vector>

enum class Kernel_Set { Baseline, Avx2, Avx512 };

// "baseline", "avx2", "avx512": the names CAVITY_KERNELS takes.
const char* Kernel_Set_Name(Kernel_Set set);

// The sets this build holds, narrowest first.
std::vector<Kernel_Set> Kernel_Sets_Built();

// Whether the processor (and the system, which must save the wider
// registers) runs the instructions of a set.
bool Processor_Runs(Kernel_Set set);

// The set the kernels run: the one given to Use_Kernel_Set, else the widest
// of the build that the processor runs.
Kernel_Set Kernel_Set_In_Use();

// Runs `set` from now on; it must be built and run on this processor. The
// program calls it once at its start; the tests, between the cases of each
// set.
void Use_Kernel_Set(Kernel_Set set);

// The table of one library's kernels for the set in use, of the three.
template <class Table>
const Table& Kernels_In_Use(const Table& baseline, const Table& avx2, const Table& avx512) {
    switch (Kernel_Set_In_Use()) {
    case Kernel_Set::Avx512:
        return avx512;
    case Kernel_Set::Avx2:
        return avx2;
    default:
        return baseline;
    }
}
