#pragma once
// The command line. Without options the program is the console dialogue
// alone; each option adds behaviour the user asks for and changes nothing
// of a run that does not use it.
#include "lattice/scheme.hpp"

#include <stdexcept>
#include <string>

struct Run_Options {
    bool help = false;
    bool version = false;
    // --settle TOL [--settle-window STEPS]: end once the reported Nusselt
    // number is steady (Settle_Tolerance 0: the solver's own stop only).
    double Settle_Tolerance = 0.0;
    int Settle_Window = 20000;
    bool Settle_Window_Given = false;
    // --threads N (0: OMP_NUM_THREADS, else the cores the process may use).
    int Threads = 0;
    // --checkpoint FILE [--checkpoint-every STEPS] (0: at every report).
    std::string Checkpoint_File;
    int Checkpoint_Every = 0;
    // --accelerate: extrapolate the state towards the steady state.
    bool Accelerate = false;
    // A checkpoint of an accelerated run restarts its history of extrapolated
    // states, so it comes every so many steps rather than at every report.
    static constexpr int Accelerated_Checkpoint_Every = 10000;
    // --start-from FILE: the distributions of another run as the start.
    std::string Start_From;
    // --files-every STEPS: the result files at the first report at or after
    // each multiple of STEPS and at the end (0: at every report).
    int Files_Every = 0;
    // --scheme NAME: the wall rule and the collisions (lattice/scheme.hpp).
    Scheme Scheme_Used;
    // --no-residual-stop: the run ends by --settle or the step limit only.
    bool Residual_Stop = true;
};

// A command line the program cannot run from.
struct Usage_Error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Reads argv[1..argc-1]; throws Usage_Error naming the option, the value
// and the remedy.
Run_Options Parse_Options(int argc, const char* const* argv);

// The text of --help and --version, each ending with a line break; with a
// scheme other than the original, --version names it on a second line.
std::string Usage_Text();
std::string Version_Text(const Scheme& scheme = Scheme{});

// The synopsis, also at the end of the line of a usage error.
inline constexpr const char* Synopsis =
    "usage: cavity [--settle TOL [--settle-window STEPS]] [--accelerate] [--threads N] "
    "[--checkpoint FILE [--checkpoint-every STEPS]] [--start-from FILE] [--files-every STEPS] "
    "[--scheme NAME] [--no-residual-stop] [--help] [--version]";
