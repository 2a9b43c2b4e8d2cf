#pragma once
// Checkpoints. With --checkpoint FILE the whole state of the run is kept in
// FILE, replaced in one piece at reports, and a run started again with the
// same FILE, grid and parameters goes on from it and writes the same bytes as
// if it had never stopped. With --start-from FILE a new run starts from the
// fields kept in FILE instead of from rest. The layout of the file is in
// docs/checkpoint.md.
#include "lattice/lattice.hpp"
#include "lattice/scheme.hpp"
#include "setup/parameters.hpp"

#include <chrono>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

// A checkpoint that cannot be used: written for another grid or other
// parameters, damaged, cut short, or of another format version.
struct Checkpoint_Error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// What a checkpoint reaches of the time loop's own storage.
struct Run_Links {
    // Rows j0 .. j1 - 1 of the distributions F and G, the nine values of a
    // node side by side, out of or into the storage the step keeps them in.
    std::function<void(int j0, int j1, float* F_rows, float* G_rows)> Rows_Out;
    std::function<void(int j0, int j1, const float* F_rows, const float* G_rows)> Rows_In;
    // What the run remembers of its reports, as bytes, and back (damaged
    // bytes throw std::runtime_error).
    std::function<std::string()> History;
    std::function<void(std::string_view)> Restore_History;
    // Whether the history restored is that of a run's end by the residual
    // stop, whose checkpoint may fall between reports.
    std::function<bool()> Ended_Between_Reports;
};

// The state of a run, by reference: what a checkpoint keeps besides the
// step. The constants derived from the parameters are derived again.
struct Run_State {
    int n, m;
    const Scheme& scheme; // a run goes on only under the scheme of its checkpoint
    const Physical_Parameters& Parameters;
    float &Nu_Hot, &Residual_T, &Residual_Flow;
    Field &Rho, &U, &V, &T, &U_Old, &V_Old, &T_Old;
    Run_Links links;
};

// How a run keeps its checkpoints: the files set by the caller, the rest by
// Begin_From_Files; used at reports.
struct Checkpointing {
    std::string File;       // --checkpoint FILE; empty for none
    int Every = 0;          // --checkpoint-every STEPS; 0 for the paced default
    std::string Start_From; // --start-from FILE; empty for none
    // The step of the last checkpoint written or gone on from (0: none), and
    // for the paced default the seconds it took and when it was done.
    int Last_Step = 0;
    double Last_Seconds = 0.0;
    std::chrono::steady_clock::time_point Last_Done{};
    // Where the run started: from rest, or from the fields of a file with
    // this checksum (--start-from).
    bool From_File = false;
    std::uint32_t Start_Checksum = 0;
    // Rows of F and G on their way to or from a file: Checkpoint_Row_Floats,
    // obtained by the caller where a file is named.
    Field rows;
};

// Field `from` of an n0 x m0 grid interpolated bilinearly onto the nodes of
// an n x m grid, for a start from a checkpoint of another grid. The end nodes
// of the two grids coincide: node (i, j) sits at (i n0 / n, j m0 / m) in the
// nodes of the other grid, and the walls lie on the walls.
void Interpolate_Field(int n0, int m0, const Field& from, int n, int m, Field& to);

// The floats of the rows in transit of an n x m grid.
std::size_t Checkpoint_Row_Floats(int n);

// After the set-up. With --checkpoint FILE, where FILE holds a checkpoint of
// this grid and these parameter values, restores the state of its step and
// returns that step: the step's residuals come next. Otherwise, with
// --start-from FILE, makes FILE's fields the start of the run (interpolated,
// with the distributions at their equilibrium, where FILE is of another
// grid); returns 0 for
// a run from its first step. A file that cannot be used throws
// Checkpoint_Error (or textio::Input_Error where it cannot be read).
int Begin_From_Files(Run_State& s, Checkpointing& keep);

// After the report of step `Step` and the decision to go on: replaces FILE
// by the state of this step, if one is due; whether it did. With Every 0 one
// is due at the first report and then once the time since the last one is
// Paced_Factor times what that one took: the checkpoints take about 5 % of
// the run's time at most, at every report where they cost little beside
// the steps.
inline constexpr double Paced_Factor = 20.0;
bool Keep_Checkpoint(Checkpointing& keep, int Step, const Run_State& s);

// The same into `file` whether or not one is due (a checkpoint a library
// asks for), through the rows in transit of `keep`, which the caller has
// obtained.
void Write_Checkpoint_Now(Checkpointing& keep, const std::string& file, int Step,
                          const Run_State& s);
// At the end of a run (converged, settled or at the step limit): replaces
// FILE by the state of this last step, unless the last checkpoint is of it.
void Keep_Final_Checkpoint(Checkpointing& keep, int Step, const Run_State& s);
