#pragma once
// cavity._solver.Run: the solver's run (driver/run.hpp) held by Python. The
// package's Simulation is the public face; this is the thin layer that
// takes the interpreter's lock off while the solver works and copies what
// Python reads out of the run.

#include <pybind11/pybind11.h>

void Bind_Run(pybind11::module_& module);
