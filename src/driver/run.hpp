#pragma once
// A run as an object: the whole state of the time loop, so that the one loop
// is driven by the console program (Main_Program) or by a caller that runs
// the solver inside its own process (a library), in pieces as it likes. A
// run advanced in pieces of any size makes the same bytes (reports, notes,
// files, fields) as one advanced at once.
//
//   Run r;
//   Start_Run(r, Solver::Fast, options, n, m, parameters); // no dialogue
//   while (Advance_Run(r, 1000, &stop) == Advance_End::Paused)
//       ...; // r.Step, r.Nu_Hot, r.Residual_T, r.monitor.Nu_History, r.words
//   End_Run(r); // the final snapshot, the closing lines and notes
//
// The program writes the result files and a checkpoint in the working
// folder; a library's run writes its result files into `output.Folder`, or
// none. A library's run keeps its console words, its traps and its temporary
// files to itself for the length of each call, so that runs on several
// threads may be called at once; calls on one run come one at a time.
#include "convergence/accelerate.hpp"
#include "convergence/run_monitor.hpp"
#include "driver/options.hpp"
#include "driver/progress_line.hpp"
#include "driver/run_notes.hpp"
#include "restart/checkpoint.hpp"
#include "results/result_files.hpp"
#include "setup/parameters.hpp"
#include "step/stepping.hpp"
#include "textio/console.hpp"

#include <atomic>
#include <string>
#include <stdexcept>
#include <string>
#include <vector>

// A run that ends without a solution, or a call that a run cannot take.
struct Run_Error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

inline constexpr int Max_N = 2147483646; // n + 1 is written as a 32-bit integer
inline constexpr int Max_M = 1290;       // m cubed must fit in 32 bits

// The least m of a scheme, and why it is more than 1 (" with --scheme ...").
int Min_M(const Scheme& scheme);
std::string Why_Min_M(const Scheme& scheme);

// Who runs the run. The program: reports and closing lines on standard
// output, notes on standard error, the status line on a terminal, and the
// traps (set by Program_Entry) end the process. A library: all of that kept
// in the run's `words` instead, and each call runs with the traps on and
// gives the caller's floating-point environment back; a trap ends the run,
// not the process.
enum class Run_Host { Program, Library };

struct Run {
    Run() = default;
    Run(const Run&) = delete; // the step, the checkpoints and the threads hold its address
    Run& operator=(const Run&) = delete;

    Run_Host host = Run_Host::Program;
    Solver solver = Solver::Fast;
    Run_Options options;
    int n = 0, m = 0;
    Field U, V, F, Feq, Rho, G, T, V_Old, T_Old, U_Old;
    float T_Hot = 0, T_Cold = 0, T_Init = 0, T_Ref = 0, Tau_T = 0, G_Beta = 0, U_Ref = 0, Tau_F = 0,
          Nu_Hot = 0, Residual_T = 0, Residual_Flow = 0;
    Physical_Parameters Parameters{};
    std::vector<int> plan; // thread counts forced from report to report (tests)
    int threads = 1;
    Stepping steps;
    Shares shares; // the threads of the step for the work of a report
    Run_Monitor monitor;
    Accelerator accelerator;
    Checkpointing keep;
    Progress_Line progress;
    int Step = 0; // the last step made, with its report and residuals
    bool Flow_At_Rest = true;
    Ending ending = Ending::Running;
    const char* trap = nullptr;  // with Ending::Trapped: its kind, on step Step
    textio::Console_Keep words;  // a library's: what the console would show (its caller may
                                 // take and clear Output and Notes between calls)
    Result_Output output;        // where the result files go, and their texts
    Temporary_Files temporaries; // a library's: its files a trap may cut short
    // A library's: each report as printed (the residuals are the step's before).
    struct Reported {
        int Step;
        float Nu_Hot, Residual_T, Residual_Flow;
    };
    std::vector<Reported> reports;
    std::string checkpoint_wanted; // a library's: a checkpoint to keep at the next report
};

// The program's start, after the dialogue: the memory check and the storage
// of an n x m grid, Initialize (the parameter file, the derived constants,
// the initial state, the pause and the banner), the step's storage and
// threads, and the state of a checkpoint to go on from (its step then counts
// as made: Step is that step).
void Start_Run(Run& r, Solver solver, const Run_Options& options, int n, int m);

// A library's start: the same with the six values in memory and no console
// (no dialogue, no pause, no banner); the same derived constants, initial
// state and warnings (in r.words.Notes). A grid out of range, values the
// program would refuse, or a checkpoint that cannot be used throw.
void Start_Run(Run& r, Solver solver, const Run_Options& options, int n, int m,
               const Physical_Parameters& parameters);

// Why Advance_Run returned: the run has ended (r.ending says how);
// `max_steps` steps were made; `stop_request` was found set before a step;
// a floating-point trap ended the run (r.trap, at step r.Step).
enum class Advance_End { Ended, Paused, Interrupted, Trapped };

// Makes up to `max_steps` more steps of the time loop, each with all it
// does: the report every 50 steps with the result files, the settle rule,
// the checkpoint, the extrapolations of --accelerate, the residual stop.
// `stop_request`, where given, is read before each step; a run that returns
// between steps goes on with the next call exactly as if it had not.
// Errors throw, and the run cannot go on after one.
Advance_End Advance_Run(Run& r, int max_steps, const std::atomic<bool>* stop_request = nullptr);

// The end: the final snapshot, the closing lines and the notes, as the
// program ends. A run that has not ended is ended by its caller here
// (Ending::Stopped); a run that trapped or failed has nothing to write
// (Run_Error).
void End_Run(Run& r);

// The five result files of the run's present fields, in `folder`, as a
// report at this step writes them; the run is left as it was (Nu_Hot stays
// the last report's). A run that trapped or failed throws Run_Error.
void Write_Run_Results(Run& r, const std::string& folder);

// The distributions F and G in the order of the field arrays (the nine
// values of a node side by side), out of whatever storage the step keeps
// them in.
void Run_Distributions(const Run& r, Field& F, Field& G);
