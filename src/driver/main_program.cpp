#include "driver/main_program.hpp"

#include "driver/run.hpp"
#include "setup/run_limits.hpp"
#include "textio/console.hpp"
#include "textio/line_reader.hpp"
#include "textio/record.hpp"

#include <cstdio>
#include <string>

using textio::Console_Destination;
using textio::Record;

namespace {

// Refuses a grid size outside [low, high] with a message naming the range
// and the console line it was read from.
void Check_Grid_Size(const char* name, int value, int low, int high, int line) {
    if (value < low || value > high)
        throw textio::Input_Error("input error: " + std::string(name) + " (console line " +
                                  std::to_string(line) + "): " + std::to_string(value) +
                                  " is out of range: " + name + " must be from " +
                                  std::to_string(low) + " to " + std::to_string(high));
}

void Ask_Grid_Size(int& n, int& m, const Scheme& scheme) {
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
    if (m == 1 && Min_M(scheme) > 1)
        throw textio::Input_Error("input error: m (console line " +
                                  std::to_string(console.line_number) + "): 1 is out of range" +
                                  Why_Min_M(scheme) + "; m must be from 2 to " +
                                  std::to_string(Max_M));
    Check_Grid_Size("m", m, 1, Max_M, console.line_number);
}

} // namespace

int Main_Program(Solver solver, const Run_Options& options) {
    // 1. Dialogue: the grid size.
    int n = 0, m = 0;
    Ask_Grid_Size(n, m, options.Scheme_Used);

    // 2. Storage, for the whole run; 3. the set-up: parameters, derived
    // constants, initial state, pause, banner.
    Run run;
    Start_Run(run, solver, options, n, m);

    // 4. The time loop, to its end.
    Advance_Run(run, Max_Steps);

    // 5. The final snapshot, the closing lines and the notes.
    End_Run(run);
    return 0;
}
