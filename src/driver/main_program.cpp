#include "driver/main_program.hpp"

#include "driver/run_time.hpp"
#include "results/residuals.hpp"
#include "results/result_files.hpp"
#include "setup/initialize.hpp"
#include "textio/line_reader.hpp"
#include "textio/record.hpp"

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

} // namespace

void Check_Grid_Size(const char* name, int value, int low, int high, int line) {
    if (value < low || value > high)
        throw textio::Input_Error("input error: " + std::string(name) + " (console line " +
                                  std::to_string(line) + "): " + std::to_string(value) +
                                  " is out of range: " + name + " must be from " +
                                  std::to_string(low) + " to " + std::to_string(high));
}

int Main_Program(Solver solver, const Run_Options& options) {
    (void)options;
    // 1. Dialogue: the grid size.
    int n = 0, m = 0;
    Ask_Grid_Size(n, m);

    // 2. Storage, for the whole run.
    Check_Memory(n, m);
    Field U, V, F, Feq, Rho, G, T, V_Old, T_Old, U_Old;
    Allocate_Fields(n, m, U, V, F, Feq, Rho, G, T, V_Old, T_Old, U_Old);

    // 3. Set-up: parameters, derived constants, initial state, pause, banner.
    float T_Hot = 0, T_Cold = 0, T_Init = 0, T_Ref = 0, Tau_T = 0, G_Beta = 0, U_Ref = 0, Tau_F = 0,
          Nu_Hot = 0, Residual_T = 0, Residual_Flow = 0;
    Initialize(n, m, T_Hot, T_Cold, T_Init, T_Ref, Tau_T, G_Beta, U_Ref, Rho, U, V, Tau_F, F, Feq,
               T, G, U_Old, V_Old, T_Old);
    Stepping steps;
    Prepare_Stepping(steps, solver, n, m);

    // 4. Time loop.
    for (int Step = 1; Step <= Max_Steps; ++Step) {
        // 4.1, 4.2: the flow step, then the thermal step.
        Time_Step(steps, n, m, T_Ref, G_Beta, Rho, U, V, Tau_F, F, Feq, T, Tau_T, G, T_Hot, T_Cold,
                  U_Old, V_Old, T_Old);
        // 4.3: every 50th step, the result files and the report.
        if (Is_Report_Step(Step)) {
            Output_Results(n, m, T_Hot, U_Ref, Rho, U, V, T, Nu_Hot);
            Report(Step, Nu_Hot, Residual_T, Residual_Flow);
        }
        // 4.4: the residuals against the old copies (printed by the next report).
        Residuals(steps, n, m, Residual_Flow, Residual_T, U, V, T, U_Old, V_Old, T_Old,
                  Is_Report_Step(Step + 1));
        // 4.5: the stop test.
        if (Residual_T < Stop_Threshold)
            break;
        if (Residual_Flow < Stop_Threshold)
            break;
    }

    // 5. The final snapshot and the closing lines.
    Finish_Run(n, m, T_Hot, U_Ref, Rho, U, V, T, Nu_Hot);
    return 0;
}
