#include "driver/main_program.hpp"

#include "driver/run_monitor.hpp"
#include "driver/run_time.hpp"
#include "results/residuals.hpp"
#include "results/result_files.hpp"
#include "setup/initialize.hpp"
#include "textio/console.hpp"
#include "textio/line_reader.hpp"
#include "textio/record.hpp"

#include <algorithm>
#include <cstdio>
#include <string>

using textio::Console_Destination;
using textio::Record;

namespace {

constexpr int Max_Steps = 1000000;
constexpr int Report_Interval = 50;
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

void Ask_Grid_Size(int& n, int& m) {
    textio::Line_Source& console = textio::Console_Source();
    Record(Console_Destination()).text("* Please Enter Dimensions(n And m Respectively).*").end();
    Record(Console_Destination()).text("n=").end();
    n = textio::Read_Integer(console, "n");
    Check_Grid_Size("n", n, 1, Max_N, console.line_number);
    Record(Console_Destination()).text("m=").end();
    m = textio::Read_Integer(console, "m");
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
    double change = Settle_Change(monitor);
    return change >= 0.0 && change <= options.Settle_Tolerance;
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
        const int half_steps = Half_Window_Reports(monitor) * Report_Interval;
        textio::Console_Note("note: settled at step " + std::to_string(Step) +
                             ": Nu = " + Figure(Nu_Hot, "%.7g") + "; its mean over the last " +
                             std::to_string(half_steps) + " steps differs from its mean over the " +
                             std::to_string(half_steps) + " before by " +
                             Figure(Settle_Change(monitor)) + ", relative (--settle " +
                             Figure(options.Settle_Tolerance) + ")");
    } else {
        const bool by_t = Residual_T < Stop_Threshold;
        textio::Console_Note("note: converged at step " + std::to_string(Step) + ": the " +
                             (by_t ? "temperature residual " + Figure(Residual_T)
                                   : "flow residual " + Figure(Residual_Flow)) +
                             " is below the stop at " + stop);
    }
}

} // namespace

void Check_Grid_Size(const char* name, int value, int low, int high, int line) {
    if (value < low || value > high)
        throw textio::Input_Error("input error: " + std::string(name) + " (console line " +
                                  std::to_string(line) + "): " + std::to_string(value) +
                                  " is out of range: " + name + " must be from " +
                                  std::to_string(low) + " to " + std::to_string(high));
}

int Main_Program(Solver solver, const Run_Options& options) {
    // 1. Dialogue: the grid size.
    int n = 0, m = 0;
    Ask_Grid_Size(n, m);

    // 2. Storage, for the whole run.
    const int threads = Step_Threads(n, m, options.Threads);
    Check_Memory(n, m, threads);
    Field U, V, F, Feq, Rho, G, T, V_Old, T_Old, U_Old;
    Allocate_Fields(n, m, U, V, F, Feq, Rho, G, T, V_Old, T_Old, U_Old);

    // 3. Set-up: parameters, derived constants, initial state, pause, banner.
    float T_Hot = 0, T_Cold = 0, T_Init = 0, T_Ref = 0, Tau_T = 0, G_Beta = 0, U_Ref = 0, Tau_F = 0,
          Nu_Hot = 0, Residual_T = 0, Residual_Flow = 0;
    Initialize(n, m, T_Hot, T_Cold, T_Init, T_Ref, Tau_T, G_Beta, U_Ref, Rho, U, V, Tau_F, F, Feq,
               T, G, U_Old, V_Old, T_Old);
    Stepping steps;
    Prepare_Stepping(steps, solver, n, m, threads, F, Feq, G);

    // 4. Time loop.
    Run_Monitor monitor;
    monitor.Window = options.Settle_Window;
    Ending ending = Ending::Step_Limit;
    int Step = 1;
    for (; Step <= Max_Steps; ++Step) {
        // 4.1, 4.2: the flow step, then the thermal step.
        Time_Step(steps, n, m, T_Ref, G_Beta, Rho, U, V, Tau_F, F, Feq, T, Tau_T, G, T_Hot, T_Cold,
                  U_Old, V_Old, T_Old);
        // 4.3: every 50th step, the result files and the report.
        if (Is_Report_Step(Step)) {
            Output_Results(n, m, T_Hot, U_Ref, Rho, U, V, T, Nu_Hot);
            Report(Step, Nu_Hot, Residual_T, Residual_Flow);
            Record_Report(monitor, Nu_Hot);
            if (Has_Settled(options, monitor)) {
                ending = Ending::Settled;
                break;
            }
        }
        // 4.4: the residuals against the old copies (exact where printed: by the
        // next report, or by the note at the step limit).
        Residuals(steps, n, m, Residual_Flow, Residual_T, U, V, T, U_Old, V_Old, T_Old,
                  Is_Report_Step(Step + 1) || Step == Max_Steps);
        // 4.5: the stop test.
        if (Residual_T < Stop_Threshold || Residual_Flow < Stop_Threshold) {
            ending = Ending::Residual;
            break;
        }
    }

    // 5. The final snapshot and the closing lines.
    Finish_Run(n, m, T_Hot, U_Ref, Rho, U, V, T, Nu_Hot);
    Tell_The_Ending(ending, std::min(Step, Max_Steps), Nu_Hot, Residual_T, Residual_Flow, options,
                    monitor);
    return 0;
}
