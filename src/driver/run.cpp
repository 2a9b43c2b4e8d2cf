#include "driver/run.hpp"

#include "driver/checkpoint_links.hpp"
#include "process/run_time.hpp"
#include "results/diagnostics.hpp"
#include "results/residuals.hpp"
#include "results/result_files.hpp"
#include "setup/initialize.hpp"
#include "setup/run_limits.hpp"
#include "step/time_step.hpp"
#include "textio/console.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>

namespace {

constexpr float Report_Threshold = 0.01f;

// Steps 50, 100, 150, ...: the remainder of the step, as a real, below the
// report threshold.
bool Is_Report_Step(int Step) {
    int r = Step - (Step / Report_Interval) * Report_Interval;
    return float(r) < Report_Threshold;
}

// A call on the run as its host makes it. A library's is made with the
// console kept in the run and with the traps on; a trap ends the run (false).
// What the call throws leaves a run that cannot go on.
bool As_Host(Run& r, const std::function<void()>& body) {
    try {
        if (r.host == Run_Host::Program) {
            body();
            return true;
        }
        struct Keep_Words {
            textio::Console_Keep* before;
            Temporary_Files* files_before;
            ~Keep_Words() {
                textio::Console_Keep_In(before);
                Temporary_Files_In(files_before);
            }
        } keep{textio::Console_Keep_In(&r.words), Temporary_Files_In(&r.temporaries)};
        r.trap = Catch_Floating_Point_Traps(body);
        if (r.trap)
            Remove_Partial_File_From_Signal(); // a file of this run the trap cut short, if any
    } catch (...) {
        r.ending = Ending::Failed;
        throw;
    }
    if (!r.trap)
        return true;
    r.ending = Ending::Trapped;
    return false;
}

// The ten field arrays, in the order the run has always obtained them.
void Allocate_Fields(Run& r) {
    const std::size_t nodes = Node_Count(r.n, r.m);
    Allocate_Field(r.U, nodes, "U");
    Allocate_Field(r.V, nodes, "V");
    Allocate_Field(r.F, 9 * nodes, "F");
    Allocate_Field(r.Feq, 9 * nodes, "Feq");
    Allocate_Field(r.Rho, nodes, "Rho");
    Allocate_Field(r.G, 9 * nodes, "G");
    Allocate_Field(r.T, nodes, "T");
    Allocate_Field(r.V_Old, nodes, "V_Old");
    Allocate_Field(r.T_Old, nodes, "T_Old");
    Allocate_Field(r.U_Old, nodes, "U_Old");
}

// The run's settings, the thread count, the memory check and the storage.
void Obtain_Storage(Run& r, Run_Host host, Solver solver, const Run_Options& options, int n,
                    int m) {
    r.host = host;
    r.solver = solver;
    r.options = options;
    r.n = n;
    r.m = m;
    // CAVITY_TEST_THREAD_PLAN forces the counts from report to report (for tests).
    r.plan = Thread_Plan(std::getenv("CAVITY_TEST_THREAD_PLAN"));
    r.threads = Step_Threads(
        n, m, r.plan.empty() ? options.Threads : *std::max_element(r.plan.begin(), r.plan.end()));
    // A test hook: the Nth extrapolation is spoilt, to exercise its undoing.
    if (const char* poison = std::getenv("CAVITY_TEST_SPOIL_EXTRAPOLATION"))
        r.accelerator.Poison = std::atoi(poison);
    Check_Memory(n, m, r.threads,
                 Checkpoint_Bytes(n, options) +
                     (options.Accelerate ? Accelerator_Bytes(n, m, r.accelerator) : 0));
    Allocate_Fields(r);
}

// The state a checkpoint keeps and restores, by reference.
Run_State State_Of(Run& r) {
    // clang-format off
    return {r.n, r.m, r.options.Scheme_Used, r.Parameters, r.Nu_Hot, r.Residual_T, r.Residual_Flow,
            r.Rho, r.U, r.V, r.T, r.U_Old, r.V_Old, r.T_Old,
            Checkpoint_Links(r.steps, r.monitor, r.n, r.F, r.G)};
    // clang-format on
}

// The fields an extrapolation of --accelerate replaces.
Accelerated_Fields Accelerated_Of(Run& r) {
    // clang-format off
    return {r.n, r.m, r.steps, r.F, r.G, r.Rho, r.U, r.V, r.T, r.U_Old, r.V_Old, r.T_Old,
            r.monitor.Acceleration};
    // clang-format on
}

void Close_Step(Run& r);

// After the set-up: the step's storage and threads, the windows of the
// settle rule and the blocks of --accelerate, a checkpoint to go on from
// (its step counts as made and reported; its residuals come next).
void Prepare_Loop(Run& r) {
    if (const std::string w = Settle_Tolerance_Warning(r.options.Settle_Tolerance); !w.empty())
        textio::Console_Note(w);
    Prepare_Stepping(r.steps, r.solver, r.n, r.m, r.threads, r.F, r.Feq, r.G);
    r.steps.scheme = r.options.Scheme_Used;
    if (!r.plan.empty() || !Thread_Count_Given(r.options.Threads))
        Adapt_Threads(r.steps, r.plan);
    r.shares = Report_Shares(r.steps);
    r.monitor.Window = r.options.Settle_Window;
    r.monitor.Window_Fixed = r.options.Settle_Window_Given;
    r.monitor.Window_Floor = Case_Window_Floor(r.m, r.Tau_T);
    // The swings of Nu last longer where diffusion is slower: blocks of a
    // sixteenth of the window floor (m^2/(320 alpha), 400 to 4000 steps) let
    // the extrapolations span them. The heat content comes to its limit over
    // some m^2/(4 Nu alpha) steps: sampled a tenth of the floor apart, it
    // falls by a ratio of 0.8 to 0.95 from sample to sample.
    r.accelerator.Block = std::clamp(r.monitor.Window_Floor / 16, 400, 4000);
    r.accelerator.Heat_Block = std::max(1000, r.monitor.Window_Floor / 10);
    // With --checkpoint FILE kept by an earlier start of this run, the state
    // of its step; with --start-from FILE, the fields of another run as the
    // start.
    Run_State state = State_Of(r);
    const int Kept_Step = Begin_From_Files(r.options, state, r.keep);
    if (r.options.Accelerate) {
        Prepare_Accelerator(r.accelerator, r.n, r.m);
        r.monitor.Acceleration.Active = true;
    }
    Start_Progress(r.progress, r.n, r.m);
    // A trap's line names the likely cause where the set-up warned of one
    // (the program's: a library's trap comes back to its caller).
    if (r.host == Run_Host::Program) {
        Set_Trap_Cause(Blow_Up_Cause(r.Parameters, Derive_Constants(r.Parameters, r.m), r.n, r.m));
        Set_Trap_Step(Kept_Step);
    }
    if (Kept_Step > 0) {
        r.Step = Kept_Step;
        // The checkpoint of a run's end ends this run there too: after its
        // residuals by the stop, or at its report by --settle as now given.
        if (r.monitor.Ended_By_Residual)
            r.ending = Ending::Residual;
        else if (r.options.Settle_Tolerance > 0.0 &&
                 Judge_Settling(r.monitor, r.options.Settle_Tolerance).Settled)
            r.ending = Ending::Settled;
        else
            Close_Step(r);
    }
}

} // namespace

void Start_Run(Run& r, Solver solver, const Run_Options& options, int n, int m) {
    Obtain_Storage(r, Run_Host::Program, solver, options, n, m);
    // The parameters, the derived constants, the initial state, the pause
    // and the banner.
    Initialize(n, m, r.T_Hot, r.T_Cold, r.T_Init, r.T_Ref, r.Tau_T, r.G_Beta, r.U_Ref, r.Rho, r.U,
               r.V, r.Tau_F, r.F, r.Feq, r.T, r.G, r.U_Old, r.V_Old, r.T_Old, &r.Parameters);
    Prepare_Loop(r);
}

void Start_Run(Run& r, Solver solver, const Run_Options& options, int n, int m,
               const Physical_Parameters& parameters) {
    const int low_m = Min_M(options.Scheme_Used);
    if (n < 1 || n > Max_N || m < low_m || m > Max_M) {
        r.ending = Ending::Failed;
        throw Run_Error("run error: a grid of " + std::to_string(n) + " x " + std::to_string(m) +
                        " cannot be run: n must be from 1 to " + std::to_string(Max_N) +
                        " and m from " + std::to_string(low_m) + " to " + std::to_string(Max_M) +
                        (low_m > 1 ? Why_Min_M(options.Scheme_Used) : ""));
    }
    r.host = Run_Host::Library;
    r.temporaries.owned = 0; // the working folder's temporary files are not this run's
    As_Host(r, [&] {
        Obtain_Storage(r, Run_Host::Library, solver, options, n, m);
        r.Parameters = parameters;
        for (const std::string& w :
             Set_Constants(n, m, parameters, Parameter_Lines{}, r.T_Hot, r.T_Cold, r.T_Init,
                           r.T_Ref, r.Tau_T, r.G_Beta, r.U_Ref, r.Tau_F))
            textio::Console_Note(w);
        Initial_State(n, m, r.T_Hot, r.T_Cold, r.T_Init, r.Rho, r.U, r.V, r.F, r.Feq, r.T, r.G,
                      r.U_Old, r.V_Old, r.T_Old);
        Prepare_Loop(r);
    });
}

namespace {

// A run whose fluid has not moved by the time it would first write its
// results has found no solution. A grid without interior nodes has no fluid
// that could move.
bool Fluid_Still(int n, int m, const Field& U, const Field& V) {
    if (n < 2 || m < 2)
        return false;
    for (std::size_t c = 0; c < U.size(); ++c)
        if (U[c] != 0.0f || V[c] != 0.0f)
            return false;
    return true;
}

[[noreturn]] void No_Flow_At_First_Report(int Step, float G_Beta, float T_Ref) {
    throw Run_Error("run error: the fluid has not moved: the velocity is zero on every node at "
                    "step " +
                    std::to_string(Step) +
                    ", the first report, so there is no solution to write; the buoyancy force "
                    "G_Beta (T - T_Ref), with G_Beta = " +
                    Figure(G_Beta) + " and T_Ref = " + Figure(T_Ref) +
                    ", was too small against the rounding of the distributions to move it; "
                    "nothing was written; a larger Ra or a smaller m gives it more weight");
}

// Why a fluid still at rest met the stop: what moved the temperature too
// little to keep the residual above it, or kept the buoyancy at zero.
std::string Why_No_Flow_At_Stop(const Run& r) {
    const double dT = std::fabs(double(r.T_Hot) - double(r.T_Cold));
    if (dT < 1e-3 * std::max(std::fabs(double(r.T_Hot)), std::fabs(double(r.T_Cold))))
        return "the temperatures change too little against their own size (T_Hot = " +
               Figure(r.T_Hot, "%.9g") + ", T_Cold = " + Figure(r.T_Cold, "%.9g") +
               "); nothing was written; temperatures measured from nearer zero (T_Cold = 0, "
               "T_Hot = 1, say) give the same flow and a residual that waits for it";
    double off = 0.0; // the largest |T - T_Ref| of a fluid node
    for (int j = 1; j < r.m; ++j)
        for (int i = 1; i < r.n; ++i)
            off = std::max(off, std::fabs(double(r.T[Node(r.n, i, j)]) - double(r.T_Ref)));
    if (off > 1e-6 * dT)
        return "the buoyancy force was too small against the rounding of the distributions to "
               "move the fluid before the temperature settled; nothing was written; a larger Ra "
               "or a smaller m gives it more weight";
    return "every fluid node has stayed at T_Ref = " + Figure(r.T_Ref, "%.9g") +
           ", the mean of the wall temperatures, where the buoyancy force is zero" +
           (r.n == 2 ? ": on a grid 2 wide the one fluid column lies midway between the walls, "
                       "where conduction holds a fluid started at T_Ref; nothing was written; a "
                       "grid at least 3 wide, or a T_Init other than T_Ref, sets it moving"
                     : "; nothing was written; a T_Init other than T_Ref sets it moving");
}

[[noreturn]] void No_Flow_At_Stop(const Run& r) {
    throw Run_Error(
        "run error: the fluid has not moved: the velocity is zero on every node at "
        "step " +
        std::to_string(r.Step) + ", where the temperature residual " + Figure(r.Residual_T) +
        " already meets the stop, so there is no solution to write; " + Why_No_Flow_At_Stop(r));
}

// What the run remembers of a report, the note on a steady run held above
// the stop, and with --settle whether the run ends here.
bool Settled_After_Report(Run& r) {
    Record_Report(r.monitor, r.Nu_Hot);
    Record_Residuals(r.monitor, r.Residual_T, r.Residual_Flow, r.Flow_At_Rest);
    if (r.options.Settle_Tolerance > 0.0 &&
        Judge_Settling(r.monitor, r.options.Settle_Tolerance).Settled)
        return true;
    if (Steady_Note_Due(r.monitor))
        Tell_Steady(r.Step, r.Nu_Hot, r.monitor);
    return false;
}

// After a report and the decision to go on: with --checkpoint the state of
// this step, to go on from, and the one a library asked for. Each restarts
// the history of the extrapolations of --accelerate.
void Keep_Checkpoints(Run& r) {
    // With --checkpoint: the state of this step, to go on from; at the step
    // limit always, as the run's end.
    bool kept = false;
    if (r.Step == Max_Steps)
        Keep_Final_Checkpoint(r.keep, r.Step, State_Of(r));
    else
        kept = Keep_Checkpoint(r.keep, r.Step, State_Of(r));
    if (!r.checkpoint_wanted.empty()) {
        if (r.keep.rows.empty())
            Allocate_Field(r.keep.rows, Checkpoint_Row_Floats(r.n), "the checkpoint rows");
        Write_Checkpoint_Now(r.keep, r.checkpoint_wanted, r.Step, State_Of(r));
        r.checkpoint_wanted.clear();
        kept = true;
    }
    if (kept)
        Restart_Accelerator(r.accelerator);
}

// The first half of step r.Step: the flow step, then the thermal step; every
// 50th step the result files, the report, the settle rule, the checkpoint
// and the choice of threads.
void Make_Step(Run& r) {
    const int n = r.n, m = r.m, Step = r.Step;
    Time_Step(r.steps, n, m, r.T_Ref, r.G_Beta, r.Rho, r.U, r.V, r.Tau_F, r.F, r.Feq, r.T, r.Tau_T,
              r.G, r.T_Hot, r.T_Cold, r.U_Old, r.V_Old, r.T_Old);
    if (!Is_Report_Step(Step))
        return;
    if (Step == Report_Interval && Fluid_Still(n, m, r.U, r.V))
        No_Flow_At_First_Report(Step, r.G_Beta, r.T_Ref);
    if (Due_At_Report(r.options.Files_Every, Step))
        Output_Results(n, m, r.T_Hot, r.U_Ref, r.Rho, r.U, r.V, r.T, r.Nu_Hot, r.shares, r.output);
    else // --files-every: the report's Nu alone
        r.Nu_Hot = Compute_Nu_Hot(n, m, r.T_Hot, r.T);
    Report(Step, r.Nu_Hot, r.Residual_T, r.Residual_Flow);
    if (r.host == Run_Host::Library)
        r.reports.push_back({Step, r.Nu_Hot, r.Residual_T, r.Residual_Flow});
    if (Settled_After_Report(r)) {
        r.ending = Ending::Settled;
        return;
    }
    Keep_Checkpoints(r);
    Threads_At_Report(r.steps);
}

// The second half of step r.Step: the residuals, the stop test, the
// extrapolations of --accelerate, the status line, the step limit.
void Close_Step(Run& r) {
    const int Step = r.Step;
    // The residuals against the old copies (exact where printed: by the next
    // report, or by the note at the step limit).
    Residuals(r.steps, r.n, r.m, r.Residual_Flow, r.Residual_T, r.U, r.V, r.T, r.U_Old, r.V_Old,
              r.T_Old, Is_Report_Step(Step + 1) || Step == Max_Steps, r.Flow_At_Rest);
    // The stop test. A flow residual over a fluid at rest is 0 over nothing
    // and no sign of convergence.
    if (r.options.Residual_Stop &&
        (r.Residual_T < Stop_Threshold || (r.Residual_Flow < Stop_Threshold && !r.Flow_At_Rest))) {
        r.ending = Ending::Residual;
        return;
    }
    // With --accelerate, at the end of a block: the state to go on from.
    // The reports before a replaced state are of another way to the steady
    // state; the settle rule reads those after it.
    if (r.options.Accelerate) {
        const Block_End e = Accelerate(r.accelerator, Step, Accelerated_Of(r));
        if (e == Block_End::Extrapolated || e == Block_End::Undone)
            r.monitor.Nu_History.clear();
    }
    Show_Progress(r.progress, Step, r.Residual_T, r.Residual_Flow, r.monitor,
                  r.steps.threads.Count());
    if (Step == Max_Steps)
        r.ending = Ending::Step_Limit;
}

// Up to `max_steps` steps, while the run goes on.
Advance_End Steps(Run& r, int max_steps, const std::atomic<bool>* stop_request) {
    for (int made = 0; r.ending == Ending::Running; ++made) {
        if (made >= max_steps)
            return Advance_End::Paused;
        if (stop_request && stop_request->load(std::memory_order_relaxed))
            return Advance_End::Interrupted;
        ++r.Step;
        if (r.host == Run_Host::Program)
            Set_Trap_Step(r.Step);
        Make_Step(r);
        if (r.ending == Ending::Running)
            Close_Step(r);
    }
    return Advance_End::Ended;
}

// A run that cannot be taken any further.
[[noreturn]] void No_Further(const Run& r) {
    if (r.n < 1)
        throw Run_Error("run error: the run has not been started (Start_Run)");
    if (r.ending == Ending::Trapped) {
        const std::string cause =
            Blow_Up_Cause(r.Parameters, Derive_Constants(r.Parameters, r.m), r.n, r.m);
        throw Run_Error("run error: the run ended at step " + std::to_string(r.Step) +
                        " with a floating-point error: " + r.trap +
                        "; its state is that of the fault, and there is no solution to write; " +
                        (cause.empty() ? "the warnings at its start, if any, say what may be "
                                         "at fault"
                                       : cause));
    }
    throw Run_Error("run error: the run ended with an error at step " + std::to_string(r.Step) +
                    " and cannot go on; a new Run starts again");
}

// The relative difference of the walls' second-order Nusselt numbers of a
// settled run (-1 for none): the heat the rounded weights of the
// temperature add goes out through the walls, and shows in it.
double Heat_Balance(const Run& r) {
    if (r.ending != Ending::Settled || r.n < 3)
        return -1.0;
    double hot = 0.0, cold = 0.0;
    Compute_Wall_Nusselt(r.n, r.m, r.T_Hot, r.T_Cold, r.T, hot, cold);
    return hot != 0.0 ? std::fabs(hot - cold) / std::fabs(hot) : -1.0;
}

// With --checkpoint, the state the run ended in, to start another from:
// settled, that of its report; by the residual stop, that after its
// residuals, marked so that a run going on from it ends there too. (The
// step limit keeps its report's, in Make_Step.)
void Keep_The_End(Run& r) {
    if (r.ending == Ending::Residual && r.keep.Last_Step != r.Step)
        r.monitor.Ended_By_Residual = true;
    if (r.ending == Ending::Residual || r.ending == Ending::Settled)
        Keep_Final_Checkpoint(r.keep, r.Step, State_Of(r));
}

} // namespace

Advance_End Advance_Run(Run& r, int max_steps, const std::atomic<bool>* stop_request) {
    if (r.ending == Ending::Trapped)
        return Advance_End::Trapped;
    if (r.ending == Ending::Failed || r.n < 1)
        No_Further(r);
    Advance_End end = Advance_End::Ended;
    if (!As_Host(r, [&] { end = Steps(r, max_steps, stop_request); }))
        return Advance_End::Trapped;
    // Between two calls the clock of the thread choice stops: the wait is no
    // time of the steps.
    if (end != Advance_End::Ended)
        Restart_Report_Interval(r.steps);
    return end;
}

void End_Run(Run& r) {
    if (r.ending == Ending::Trapped || r.ending == Ending::Failed || r.n < 1)
        No_Further(r);
    if (r.ending == Ending::Running)
        r.ending = Ending::Stopped;
    const bool done = As_Host(r, [&r] {
        const int n = r.n, m = r.m;
        textio::Console_Status_Clear();
        // A run that stops before its first report is checked as that report
        // would have been.
        if (r.ending == Ending::Residual && r.Step < Report_Interval && Fluid_Still(n, m, r.U, r.V))
            No_Flow_At_Stop(r);
        Keep_The_End(r);
        Finish_Run(n, m, r.T_Hot, r.U_Ref, r.Rho, r.U, r.V, r.T, r.Nu_Hot, r.shares, r.output);
        // The closing lines complete before the notes, so that a terminal that
        // shows both has the notes below them.
        textio::Console_Close();
        Tell_The_Ending(r.ending, r.Step, r.Nu_Hot, r.Residual_T, r.Residual_Flow, r.options,
                        r.monitor, Heat_Balance(r));
        if (const std::string note = Threads_Note(r.steps.choice); !note.empty())
            textio::Console_Note(note);
        textio::Console_Note(
            Wall_Nusselt_Note(n, m, r.T_Hot, r.T_Cold, r.Nu_Hot, r.T, r.options.Scheme_Used) +
            Cavity_Rayleigh_Words(r.Parameters.Ra, n, m));
        if (r.options.Accelerate)
            Tell_The_Acceleration(r.accelerator, r.Step,
                                  r.ending == Ending::Settled && r.monitor.Acceleration.Shifts > 0);
    });
    if (!done)
        No_Further(r);
}

void Write_Run_Results(Run& r, const std::string& folder) {
    if (r.ending == Ending::Trapped || r.ending == Ending::Failed || r.n < 1)
        No_Further(r);
    Result_Output out;
    out.Folder = folder;
    float Nu_Hot = r.Nu_Hot;
    if (!As_Host(r, [&] {
            Output_Results(r.n, r.m, r.T_Hot, r.U_Ref, r.Rho, r.U, r.V, r.T, Nu_Hot, r.shares, out);
        }))
        No_Further(r);
    Remove_Temporary_Files(folder);
}

int Min_M(const Scheme& scheme) {
    return scheme.insulated_walls == Insulated_Walls::Bounce_Back ? 2 : 1;
}

std::string Why_Min_M(const Scheme& scheme) {
    return std::string(" with --scheme ") + Scheme_Name(scheme) +
           ", whose insulated walls are the rows 0 and m: a grid one row high has no fluid "
           "between them";
}

void Run_Distributions(const Run& r, Field& F, Field& G) {
    const std::size_t count = 9 * Node_Count(r.n, r.m);
    F.assign(count, 0.0f);
    G.assign(count, 0.0f);
    Copy_Distributions_Out(r.steps, r.n, 0, r.m + 1, r.F, r.G, F.data(), G.data());
}
