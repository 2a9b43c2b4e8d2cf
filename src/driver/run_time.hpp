#pragma once
// The run-time layer: the floating-point environment of the run, storage,
// and the errors that end a run.
#include "driver/lattice.hpp"

#include <cstdint>
#include <stdexcept>

// Storage that cannot be obtained, or a grid the machine cannot hold.
struct Run_Time_Error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Invalid operation, division by zero and overflow trap for the rest of the
// run and end it with "floating-point error: <kind>" and exit status 1.
// Underflow and denormals pass and are kept (no flush to zero).
void Enable_Floating_Point_Traps();

// The report of the trap handler for a SIGFPE si_code.
const char* Floating_Point_Kind(int si_code);

// Sizes the field arrays; a failed allocation throws Run_Time_Error naming
// the array.
void Allocate_Field(Field& f, std::size_t count, const char* name);

// Bytes a run on an n x m grid needs: the ten field arrays (136 bytes a node)
// and the working storage of the result files.
std::uint64_t Bytes_Needed(int n, int m);

// Physical memory of the machine, 0 if unknown.
std::uint64_t Physical_Memory();

// Throws Run_Time_Error with both figures if the grid does not fit.
void Check_Memory(int n, int m);
