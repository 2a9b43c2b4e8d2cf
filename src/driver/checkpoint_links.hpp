#pragma once
// The run's side of its checkpoints: the options, the rows buffer, and the
// links through which a checkpoint reaches the step's storage and the
// monitor.
#include "convergence/run_monitor.hpp"
#include "driver/options.hpp"
#include "restart/checkpoint.hpp"
#include "step/time_step.hpp"

#include <cstdint>

// Bytes the options need beyond the run's fields: the rows in transit.
std::uint64_t Checkpoint_Bytes(int n, const Run_Options& options);

// The distributions where `steps` keeps them (F and G for the
// straightforward procedures) and the report history of `monitor`; the window
// of --settle stays this run's option when a history is restored.
Run_Links Checkpoint_Links(Stepping& steps, Run_Monitor& monitor, int n, Field& F, Field& G);

// Begin_From_Files with the files of the options, the rows buffer obtained
// first.
int Begin_From_Files(const Run_Options& options, Run_State& s, Checkpointing& keep);
