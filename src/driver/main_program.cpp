#include "driver/main_program.hpp"

#include "convergence/accelerate.hpp"
#include "convergence/run_monitor.hpp"
#include "driver/checkpoint_links.hpp"
#include "driver/progress_line.hpp"
#include "process/run_time.hpp"
#include "results/diagnostics.hpp"
#include "results/residuals.hpp"
#include "results/result_files.hpp"
#include "setup/initialize.hpp"
#include "setup/run_limits.hpp"
#include "textio/console.hpp"
#include "textio/line_reader.hpp"
#include "textio/record.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

using textio::Console_Destination;
using textio::Record;

namespace {

constexpr float Report_Threshold = 0.01f;

// Steps 50, 100, 150, ...: the remainder of the step, as a real, below the
// report threshold.
bool Is_Report_Step(int Step) {
    int r = Step - (Step / Report_Interval) * Report_Interval;
    return float(r) < Report_Threshold;
}

void Report(int Step, float Nu_Hot, float Residual_T, float Residual_Flow) {
    Record(Console_Destination())
        .text("Step==")
        .integer(Step / Report_Interval)
        .text("           Nu On Hot Wall==")
        .real(Nu_Hot)
        .end();
    Record(Console_Destination())
        .text("Residual of Th==")
        .real(Residual_T)
        .text("           Residual of Flow==")
        .real(Residual_Flow)
        .end();
    Record(Console_Destination())
        .text("******************************************************************************")
        .end();
}

constexpr int Max_N = 2147483646; // n + 1 is written as a 32-bit integer
constexpr int Max_M = 1290;       // m cubed must fit in 32 bits

// Refuses a grid size outside [low, high] with a message naming the range
// and the console line it was read from.
void Check_Grid_Size(const char* name, int value, int low, int high, int line) {
    if (value < low || value > high)
        throw textio::Input_Error("input error: " + std::string(name) + " (console line " +
                                  std::to_string(line) + "): " + std::to_string(value) +
                                  " is out of range: " + name + " must be from " +
                                  std::to_string(low) + " to " + std::to_string(high));
}

void Ask_Grid_Size(int& n, int& m) {
    textio::Line_Source& console = textio::Console_Source();
    Record(Console_Destination()).text("* Please Enter Dimensions(n And m Respectively).*").end();
    Record(Console_Destination()).text("n=").end();
    std::string rest_of_n;
    n = textio::Read_Integer(console, "n", rest_of_n);
    Check_Grid_Size("n", n, 1, Max_N, console.line_number);
    Record(Console_Destination()).text("m=").end();
    try {
        m = textio::Read_Integer(console, "m");
    } catch (const textio::Input_Error& error) {
        // "64 64" on one line: the read of n passed over the answer for m.
        const std::string second = textio::Integer_Passed_Over(rest_of_n);
        if (second.empty() || !std::feof(console.file))
            throw;
        throw textio::Input_Error(std::string(error.what()) +
                                  "; the line of n held a second number, " + second +
                                  ": give n and m on two lines");
    }
    Check_Grid_Size("m", m, 1, Max_M, console.line_number);
}

// The ten field arrays, in the order the run has always obtained them.
void Allocate_Fields(int n, int m, Field& U, Field& V, Field& F, Field& Feq, Field& Rho, Field& G,
                     Field& T, Field& V_Old, Field& T_Old, Field& U_Old) {
    const std::size_t nodes = Node_Count(n, m);
    Allocate_Field(U, nodes, "U");
    Allocate_Field(V, nodes, "V");
    Allocate_Field(F, 9 * nodes, "F");
    Allocate_Field(Feq, 9 * nodes, "Feq");
    Allocate_Field(Rho, nodes, "Rho");
    Allocate_Field(G, 9 * nodes, "G");
    Allocate_Field(T, nodes, "T");
    Allocate_Field(V_Old, nodes, "V_Old");
    Allocate_Field(T_Old, nodes, "T_Old");
    Allocate_Field(U_Old, nodes, "U_Old");
}

// A run that ends without a solution.
struct Run_Error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// How the time loop ended.
enum class Ending { Step_Limit, Residual, Settled };

std::string Figure(double x, const char* format = "%.3g") {
    char text[32];
    std::snprintf(text, sizeof text, format, x);
    return text;
}

// With --settle: whether the reported Nu has settled (after a report).
bool Has_Settled(const Run_Options& options, const Run_Monitor& monitor) {
    if (options.Settle_Tolerance <= 0.0)
        return false;
    return Judge_Settling(monitor, options.Settle_Tolerance).Settled;
}

// The note on standard error on how the run ended: always at the step limit,
// and with --settle for every end, so that a sweep knows the last step.
void Tell_The_Ending(Ending ending, int Step, float Nu_Hot, float Residual_T, float Residual_Flow,
                     const Run_Options& options, const Run_Monitor& monitor) {
    const std::string stop = Figure(Stop_Threshold);
    if (ending == Ending::Step_Limit) {
        textio::Console_Note("note: step limit: all " + std::to_string(Max_Steps) +
                             " steps were made without meeting the stop rule (a residual below " +
                             stop + "); the last residuals: temperature " + Figure(Residual_T) +
                             ", flow " + Figure(Residual_Flow) +
                             "; --settle TOL ends a run whose Nusselt number is steady");
    } else if (options.Settle_Tolerance <= 0.0) {
        return;
    } else if (ending == Ending::Settled) {
        const Settle_Judgement j = Judge_Settling(monitor, options.Settle_Tolerance);
        textio::Console_Note(
            "note: settled at step " + std::to_string(Step) + ": Nu = " + Figure(Nu_Hot, "%.7g") +
            ", within an estimated " + Figure(j.Uncertainty, "%.2g") +
            " (relative) of where it settles: over the last " + std::to_string(j.Window_Steps) +
            " steps it swung by " + Figure(j.Swing, "%.2g") + " beyond its noise of " +
            Figure(j.Noise, "%.2g") + " a report, and its drift extrapolated adds " +
            Figure(j.Drift_To_Come, "%.2g") + " (--settle " + Figure(options.Settle_Tolerance) +
            ")");
    } else {
        const bool by_t = Residual_T < Stop_Threshold;
        textio::Console_Note("note: converged at step " + std::to_string(Step) + ": the " +
                             (by_t ? "temperature residual " + Figure(Residual_T)
                                   : "flow residual " + Figure(Residual_Flow)) +
                             " is below the stop at " + stop);
    }
}

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

[[noreturn]] void No_Flow_At_Stop(int Step, float Residual_T, float T_Hot, float T_Cold) {
    throw Run_Error("run error: the fluid has not moved: the velocity is zero on every node at "
                    "step " +
                    std::to_string(Step) + ", where the temperature residual " +
                    Figure(Residual_T) +
                    " already meets the stop, so there is no solution to write; the "
                    "temperatures change too little against their own size (T_Hot = " +
                    Figure(T_Hot, "%.9g") + ", T_Cold = " + Figure(T_Cold, "%.9g") +
                    "); nothing was written; temperatures measured from nearer zero (T_Cold = "
                    "0, T_Hot = 1, say) give the same flow and a residual that waits for it");
}

// Once a run: the reported Nu is steady while rounding holds the residual
// above the stop.
void Tell_Steady(int Step, float Nu_Hot, const Run_Monitor& monitor) {
    const int window = 2 * Half_Window_Reports(monitor) * Report_Interval;
    textio::Console_Note(
        "note: steady at step " + std::to_string(Step) + ": Nu = " + Figure(Nu_Hot, "%.7g") +
        " has changed by " + Figure(Settle_Change(monitor), "%.2g") + ", relative, over the last " +
        std::to_string(window) + " steps while rounding holds the smaller residual between " +
        Figure(monitor.Band_Low) + " and " + Figure(monitor.Band_High) +
        ", just above the stop at " + Figure(Stop_Threshold) +
        ": the fields are as steady as single precision shows, and the files hold the last "
        "report; the run goes on to the step limit unless a residual falls below the stop; "
        "--settle TOL ends such a run once Nu is steady to TOL");
}

// What the run remembers of a report, the note on a steady run held above
// the stop, and with --settle whether the run ends here.
bool Settled_After_Report(const Run_Options& options, Run_Monitor& monitor, int Step, float Nu_Hot,
                          float Residual_T, float Residual_Flow, bool Flow_At_Rest) {
    Record_Report(monitor, Nu_Hot);
    Record_Residuals(monitor, Residual_T, Residual_Flow, Flow_At_Rest);
    if (Has_Settled(options, monitor))
        return true;
    if (Steady_Note_Due(monitor))
        Tell_Steady(Step, Nu_Hot, monitor);
    return false;
}

// With --accelerate: what the extrapolations did, and the exact steps the
// run ended on. A settled run whose heat content was shifted is told that
// its estimate is no bound: the shift can leave a slow part of the heat
// content that Nu does not show over the window (measured 1.4 times the
// estimate on 48 x 48 at Ra 1e5).
void Tell_The_Acceleration(const Accelerator& a, int Step, bool settled_after_shift) {
    std::string text = "note: --accelerate: " + std::to_string(a.Made) + " extrapolation" +
                       (a.Made == 1 ? "" : "s") + " (" + std::to_string(a.Undone_Total) +
                       " undone)";
    if (a.Shifts > 0)
        text += " and " + std::to_string(a.Shifts) + " shift" + (a.Shifts == 1 ? "" : "s") +
                " of the heat content";
    text += " in " + std::to_string(Step) + " exact steps";
    if (a.Last_Extrapolation > 0)
        text += "; it ended on the " + std::to_string(Step - a.Last_Extrapolation) +
                " exact steps after the state was last replaced, at step " +
                std::to_string(a.Last_Extrapolation);
    textio::Console_Note(text);
    if (settled_after_shift)
        textio::Console_Note(
            "note: --accelerate: after a shift of the heat content the settled estimate above is "
            "not a bound (one case has ended 1.4 times outside it); where Nu must be within the "
            "--settle tolerance for certain, run without --accelerate");
}

} // namespace

int Main_Program(Solver solver, const Run_Options& options) {
    // 1. Dialogue: the grid size.
    int n = 0, m = 0;
    Ask_Grid_Size(n, m);

    // 2. Storage, for the whole run.
    // CAVITY_TEST_THREAD_PLAN forces the counts from report to report (for tests).
    const std::vector<int> plan = Thread_Plan(std::getenv("CAVITY_TEST_THREAD_PLAN"));
    const int threads = Step_Threads(
        n, m, plan.empty() ? options.Threads : *std::max_element(plan.begin(), plan.end()));
    Accelerator accelerator;
    // A test hook: the Nth extrapolation is spoilt, to exercise its undoing.
    if (const char* poison = std::getenv("CAVITY_TEST_SPOIL_EXTRAPOLATION"))
        accelerator.Poison = std::atoi(poison);
    Check_Memory(n, m, threads,
                 Checkpoint_Bytes(n, options) +
                     (options.Accelerate ? Accelerator_Bytes(n, m, accelerator) : 0));
    Field U, V, F, Feq, Rho, G, T, V_Old, T_Old, U_Old;
    Allocate_Fields(n, m, U, V, F, Feq, Rho, G, T, V_Old, T_Old, U_Old);

    // 3. Set-up: parameters, derived constants, initial state, pause, banner.
    float T_Hot = 0, T_Cold = 0, T_Init = 0, T_Ref = 0, Tau_T = 0, G_Beta = 0, U_Ref = 0, Tau_F = 0,
          Nu_Hot = 0, Residual_T = 0, Residual_Flow = 0;
    Physical_Parameters Parameters{};
    Initialize(n, m, T_Hot, T_Cold, T_Init, T_Ref, Tau_T, G_Beta, U_Ref, Rho, U, V, Tau_F, F, Feq,
               T, G, U_Old, V_Old, T_Old, &Parameters);
    Stepping steps;
    Prepare_Stepping(steps, solver, n, m, threads, F, Feq, G);
    if (!plan.empty() || !Thread_Count_Given(options.Threads))
        Adapt_Threads(steps, plan);
    const Shares shares = Report_Shares(steps);

    // 4. Time loop.
    Run_Monitor monitor;
    monitor.Window = options.Settle_Window;
    monitor.Window_Fixed = options.Settle_Window_Given;
    monitor.Window_Floor = Case_Window_Floor(m, Tau_T);
    // The swings of Nu last longer where diffusion is slower: blocks of a
    // sixteenth of the window floor (m^2/(320 alpha), 400 to 4000 steps) let
    // the extrapolations span them. The heat content comes to its limit over
    // some m^2/(4 Nu alpha) steps: sampled a tenth of the floor apart, it
    // falls by a ratio of 0.8 to 0.95 from sample to sample.
    accelerator.Block = std::clamp(monitor.Window_Floor / 16, 400, 4000);
    accelerator.Heat_Block = std::max(1000, monitor.Window_Floor / 10);
    // With --checkpoint FILE kept by an earlier start of this run, the state
    // of its step, which has been made and reported; with --start-from FILE,
    // the fields of another run as the start.
    Checkpointing keep;
    // clang-format off
    Run_State state{n, m, Parameters, Nu_Hot, Residual_T, Residual_Flow,
                    Rho, U, V, T, U_Old, V_Old, T_Old, Checkpoint_Links(steps, monitor, n, F, G)};
    // clang-format on
    const int Kept_Step = Begin_From_Files(options, state, keep);
    if (options.Accelerate) {
        Prepare_Accelerator(accelerator, n, m);
        monitor.Acceleration.Active = true;
    }
    const Accelerated_Fields accelerated{
        n, m, steps, F, G, Rho, U, V, T, U_Old, V_Old, T_Old, monitor.Acceleration};
    Progress_Line progress;
    Start_Progress(progress, n, m);
    Ending ending = Ending::Step_Limit;
    bool Flow_At_Rest = true;
    int Step = std::max(Kept_Step, 1);
    for (; Step <= Max_Steps; ++Step) {
        const bool made = Step == Kept_Step; // and reported, by the run that kept it
        // 4.1, 4.2: the flow step, then the thermal step.
        if (!made)
            Time_Step(steps, n, m, T_Ref, G_Beta, Rho, U, V, Tau_F, F, Feq, T, Tau_T, G, T_Hot,
                      T_Cold, U_Old, V_Old, T_Old);
        // 4.3: every 50th step, the result files and the report.
        if (Is_Report_Step(Step) && !made) {
            if (Step == Report_Interval && Fluid_Still(n, m, U, V))
                No_Flow_At_First_Report(Step, G_Beta, T_Ref);
            if (Due_At_Report(options.Files_Every, Step))
                Output_Results(n, m, T_Hot, U_Ref, Rho, U, V, T, Nu_Hot, shares);
            else // --files-every: the report's Nu alone
                Nu_Hot = Compute_Nu_Hot(n, m, T_Hot, T);
            Report(Step, Nu_Hot, Residual_T, Residual_Flow);
            if (Settled_After_Report(options, monitor, Step, Nu_Hot, Residual_T, Residual_Flow,
                                     Flow_At_Rest)) {
                ending = Ending::Settled;
                break;
            }
            // With --checkpoint: the state of this step, to go on from.
            if (Keep_Checkpoint(keep, Step, state))
                Restart_Accelerator(accelerator);
            Threads_At_Report(steps);
        }
        // 4.4: the residuals against the old copies (exact where printed: by the
        // next report, or by the note at the step limit).
        Residuals(steps, n, m, Residual_Flow, Residual_T, U, V, T, U_Old, V_Old, T_Old,
                  Is_Report_Step(Step + 1) || Step == Max_Steps, Flow_At_Rest);
        // 4.5: the stop test. A flow residual over a fluid at rest is 0 over
        // nothing and no sign of convergence.
        if (Residual_T < Stop_Threshold || (Residual_Flow < Stop_Threshold && !Flow_At_Rest)) {
            ending = Ending::Residual;
            break;
        }
        // With --accelerate, at the end of a block: the state to go on from.
        // The reports before a replaced state are of another way to the
        // steady state; the settle rule reads those after it.
        if (options.Accelerate) {
            const Block_End e = Accelerate(accelerator, Step, accelerated);
            if (e == Block_End::Extrapolated || e == Block_End::Undone)
                monitor.Nu_History.clear();
        }
        // 4.6: the status line on a terminal.
        Show_Progress(progress, Step, Residual_T, Residual_Flow, monitor, steps.threads.Count());
    }
    textio::Console_Status_Clear();
    Step = std::min(Step, Max_Steps);

    // 5. The final snapshot and the closing lines; a run that stops before its
    // first report is checked as that report would have been.
    if (Step < Report_Interval && Fluid_Still(n, m, U, V))
        No_Flow_At_Stop(Step, Residual_T, T_Hot, T_Cold);
    Finish_Run(n, m, T_Hot, U_Ref, Rho, U, V, T, Nu_Hot, shares);
    // The closing lines complete before the notes, so that a terminal that
    // shows both has the notes below them.
    textio::Console_Close();
    Tell_The_Ending(ending, Step, Nu_Hot, Residual_T, Residual_Flow, options, monitor);
    if (const std::string note = Threads_Note(steps.choice); !note.empty())
        textio::Console_Note(note);
    textio::Console_Note(Wall_Nusselt_Note(n, m, T_Hot, T_Cold, Nu_Hot, T));
    if (options.Accelerate)
        Tell_The_Acceleration(accelerator, Step,
                              ending == Ending::Settled && monitor.Acceleration.Shifts > 0);
    return 0;
}
