#include "driver/checkpoint_links.hpp"

#include "process/run_time.hpp"

namespace {

bool Uses_Files(const Run_Options& options) {
    return !options.Checkpoint_File.empty() || !options.Start_From.empty();
}

} // namespace

std::uint64_t Checkpoint_Bytes(int n, const Run_Options& options) {
    return Uses_Files(options) ? 4 * std::uint64_t(Checkpoint_Row_Floats(n)) : 0;
}

Run_Links Checkpoint_Links(Stepping& steps, Run_Monitor& monitor, int n, Field& F, Field& G) {
    Run_Links links;
    links.Rows_Out = [&steps, &F, &G, n](int j0, int j1, float* F_rows, float* G_rows) {
        Copy_Distributions_Out(steps, n, j0, j1, F, G, F_rows, G_rows);
    };
    links.Rows_In = [&steps, &F, &G, n](int j0, int j1, const float* F_rows, const float* G_rows) {
        Copy_Distributions_In(steps, n, j0, j1, F_rows, G_rows, F, G);
    };
    links.History = [&monitor] { return Monitor_Bytes(monitor); };
    links.Restore_History = [&monitor](std::string_view bytes) {
        // The window of --settle is this run's option; the history is the run's.
        const int window = monitor.Window;
        Restore_Monitor(monitor, bytes);
        monitor.Window = window;
    };
    links.Ended_Between_Reports = [&monitor] { return monitor.Ended_By_Residual; };
    return links;
}

int Begin_From_Files(const Run_Options& options, Run_State& s, Checkpointing& keep) {
    keep.File = options.Checkpoint_File;
    keep.Every = options.Checkpoint_Every;
    keep.Start_From = options.Start_From;
    if (Uses_Files(options))
        Allocate_Field(keep.rows, Checkpoint_Row_Floats(s.n), "the checkpoint rows");
    return Begin_From_Files(s, keep);
}
