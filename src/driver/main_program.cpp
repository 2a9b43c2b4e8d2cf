#include "driver/main_program.hpp"

#include "driver/fast_time_step.hpp"
#include "driver/fast_workspace.hpp"
#include "driver/run_time.hpp"
#include "flow/flow_step.hpp"
#include "results/residuals.hpp"
#include "results/residuals_fast.hpp"
#include "results/result_files.hpp"
#include "setup/initialize.hpp"
#include "textio/line_reader.hpp"
#include "textio/record.hpp"
#include "thermal/thermal_step.hpp"

#include <string>

using textio::Console_Destination;
using textio::Record;

namespace {

constexpr int Max_Steps = 1000000;
constexpr int Report_Interval = 50;
constexpr float Report_Threshold = 0.01f;

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

} // namespace

void Check_Grid_Size(const char* name, int value, int low, int high, int line) {
    if (value < low || value > high)
        throw textio::Input_Error("input error: " + std::string(name) + " (console line " +
                                  std::to_string(line) + "): " + std::to_string(value) +
                                  " is out of range: " + name + " must be from " +
                                  std::to_string(low) + " to " + std::to_string(high));
}

int Main_Program(Solver solver) {
    textio::Line_Source& console = textio::Console_Source();
    Record(Console_Destination()).text("* Please Enter Dimensions(n And m Respectively).*").end();
    Record(Console_Destination()).text("n=").end();
    int n = textio::Read_Integer(console, "n");
    Check_Grid_Size("n", n, 1, Max_N, console.line_number);
    Record(Console_Destination()).text("m=").end();
    int m = textio::Read_Integer(console, "m");
    Check_Grid_Size("m", m, 1, Max_M, console.line_number);

    Check_Memory(n, m);
    const std::size_t nodes = Node_Count(n, m);
    Field U, V, F, Feq, Rho, G, T, V_Old, T_Old, U_Old;
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

    float T_Hot = 0, T_Cold = 0, T_Init = 0, T_Ref = 0, Tau_T = 0, G_Beta = 0, U_Ref = 0, Tau_F = 0,
          Nu_Hot = 0, Residual_T = 0, Residual_Flow = 0;
    Initialize(n, m, T_Hot, T_Cold, T_Init, T_Ref, Tau_T, G_Beta, U_Ref, Rho, U, V, Tau_F, F, Feq,
               T, G, U_Old, V_Old, T_Old);

    // The two solvers of a time step and the residuals, fast or reference.
    const bool fast = solver == Solver::Fast;
    Fast_Workspace work;
    if (fast)
        work.Size_For(n, m);
    auto advance = [&] {
        if (fast) {
            Time_Step_Fast(n, m, T_Ref, G_Beta, Rho, U, V, Tau_F, F, Feq, T, Tau_T, G, T_Hot,
                           T_Cold, U_Old, V_Old, T_Old, work);
        } else {
            Flow_Step(n, m, T_Ref, G_Beta, Rho, U, V, Tau_F, F, Feq, T);
            Thermal_Step(n, m, Tau_T, U, V, T, G, T_Hot, T_Cold);
        }
    };
    auto residuals = [&](int Step) {
        // The residuals of the step before a report are printed: exact then.
        bool printed_next = (Step + 1) % Report_Interval == 0;
        if (fast)
            Compute_Residuals_Fast(n, m, Residual_Flow, Residual_T, U, V, T, U_Old, V_Old, T_Old,
                                   printed_next);
        else
            Compute_Residuals(n, m, Residual_Flow, Residual_T, U, V, T, U_Old, V_Old, T_Old);
    };

    for (int Step = 1; Step <= Max_Steps; ++Step) {
        advance();
        int r = Step - (Step / Report_Interval) * Report_Interval;
        if (float(r) < Report_Threshold) {
            Output_Results(n, m, T_Hot, U_Ref, Rho, U, V, T, Nu_Hot);
            Report(Step, Nu_Hot, Residual_T, Residual_Flow);
        }
        residuals(Step);
        if (Residual_T < Stop_Threshold)
            break;
        if (Residual_Flow < Stop_Threshold)
            break;
    }

    Finish_Run(n, m, T_Hot, U_Ref, Rho, U, V, T, Nu_Hot);
    return 0;
}
