#pragma once
// Runs a test body with each set of kernels the build holds and this
// processor runs (lattice/kernel_set.hpp), then puts back the set in use.
#include "lattice/kernel_set.hpp"

#include <gtest/gtest.h>
#include <string>

template <class Body> void For_Each_Kernel_Set(Body body) {
    const Kernel_Set before = Kernel_Set_In_Use();
    for (Kernel_Set set : Kernel_Sets_Built()) {
        if (!Processor_Runs(set))
            continue;
        SCOPED_TRACE(std::string(Kernel_Set_Name(set)) + " kernels");
        Use_Kernel_Set(set);
        body();
    }
    Use_Kernel_Set(before);
}
