// cavity._solver: the solver's libraries seen from Python. For now it tells
// the version and the kernels, which is what the package build must prove:
// the libraries, built position-independent, load into the interpreter.
#include "lattice/kernel_set.hpp"

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <string>
#include <vector>

#ifndef CAVITY_VERSION
#define CAVITY_VERSION "unknown"
#endif

namespace {

std::vector<std::string> Kernel_Set_Names() {
    std::vector<std::string> names;
    for (Kernel_Set set : Kernel_Sets_Built())
        names.emplace_back(Kernel_Set_Name(set));
    return names;
}

} // namespace

PYBIND11_MODULE(_solver, module) {
    module.doc() = "The cavity solver's libraries: version and kernels.";
    module.attr("__version__") = CAVITY_VERSION;
    module.def(
        "kernel_set", [] { return std::string(Kernel_Set_Name(Kernel_Set_In_Use())); },
        "The instruction set of the kernels in use: the widest this build holds and the "
        "processor runs.");
    module.def("kernel_sets_built", &Kernel_Set_Names,
               "The instruction sets this build holds kernels for, narrowest first.");
}
