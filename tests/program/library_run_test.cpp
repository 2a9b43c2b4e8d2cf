// The run started and advanced as a library does, in this process: the bytes
// of the program after its dialogue, the same warnings and files, and a
// floating-point trap that ends the run but not the process.
#include "driver/run.hpp"
#include "setup/parameters.hpp"
#include "setup/run_limits.hpp"
#include "support/program_run.hpp"
#include "support/temporary_folder.hpp"

#include <algorithm>
#include <cfenv>
#include <gtest/gtest.h>

#ifndef CAVITY_GOLDEN_DIR
#error "CAVITY_GOLDEN_DIR must name the folder of the recorded runs"
#endif

namespace {

// The notes as standard error has them.
std::string Lines_Of(const std::vector<std::string>& notes) {
    std::string text;
    for (const std::string& note : notes)
        text += note + "\n";
    return text;
}

// Standard output from the first report on (after the dialogue and banner).
std::string Reports_Of(const std::string& out) {
    const std::size_t at = out.find("Step==");
    return at == std::string::npos ? "" : out.substr(at);
}

TEST(LibraryRun, RecordedRunWithoutTheDialogue) {
    const std::filesystem::path golden =
        std::filesystem::path(CAVITY_GOLDEN_DIR) / "side_heated_12x8";
    In_Temporary_Folder folder;
    ::Run r; // (Run alone names the test's own)
    // The recorded parameter file: 0.71, 1.0E3, 1.0, 0.0, 0.0, 1.5 on 12 x 8.
    Start_Run(r, Solver::Fast, Run_Options(), 12, 8, {0.71f, 1.0e3f, 1.0f, 0.0f, 0.0f, 1.5f});
    ASSERT_EQ(Advance_Run(r, Max_Steps), Advance_End::Ended);
    End_Run(r);
    EXPECT_EQ(r.words.Output, Reports_Of(program::Read_File(golden / "console.expected")));
    EXPECT_EQ(Lines_Of(r.words.Notes), program::Read_File(golden / "console-errors.expected"));
    for (const char* f : program::Result_Files)
        EXPECT_TRUE(folder.Read(f) == program::Read_File(golden / (std::string(f) + ".expected")))
            << f;
}

TEST(LibraryRun, TrapEndsTheRunAtItsStepAndTheProcessGoesOn) {
    // Blows up after some reports; the program ends with the kind.
    const std::string params = program::Parameter_File("0.71", "1e7", "1", "0", "0", "0.505");
    program::Program_Run program(&params);
    ASSERT_EQ(program.Start("12\n8\n\n"), 1);
    const std::size_t last = program.err.rfind("floating-point error: ");
    ASSERT_NE(last, std::string::npos) << program.err;
    const std::string kind =
        program.err.substr(last + 22, program.err.find(' ', last + 22) - last - 22);

    In_Temporary_Folder folder;
    ::Run r; // (Run alone names the test's own)
    Start_Run(r, Solver::Fast, Run_Options(), 12, 8, {0.71f, 1e7f, 1.0f, 0.0f, 0.0f, 0.505f});
    ASSERT_EQ(Advance_Run(r, Max_Steps), Advance_End::Trapped);
    ASSERT_NE(r.trap, nullptr);
    EXPECT_EQ(r.trap, kind);
    EXPECT_EQ(fegetexcept(), 0); // this process's environment: no traps
    // The trap's step, after the last report and at most the next.
    const std::string reports = Reports_Of(program.out);
    const int count = int(std::count(reports.begin(), reports.end(), '*')) / 78;
    EXPECT_GT(r.Step, count * Report_Interval);
    EXPECT_LE(r.Step, (count + 1) * Report_Interval);
    // The program's signal handler closes its open line; the run's stays open.
    EXPECT_EQ(r.words.Output + "\r\n", reports);
    EXPECT_EQ(Lines_Of(r.words.Notes) + program.err.substr(last), program.err);
    for (const char* f : program::Result_Files)
        EXPECT_TRUE(folder.Read(f) == program.File(f)) << f;
    EXPECT_EQ(Advance_Run(r, 1), Advance_End::Trapped);
    // The program's line names the run's step and the cause the run gives.
    std::string ended;
    try {
        End_Run(r);
    } catch (const Run_Error& e) {
        ended = e.what();
    }
    const std::string after = "there is no solution to write; ";
    ASSERT_NE(ended.find(after), std::string::npos) << ended;
    EXPECT_EQ(program.err.substr(last), "floating-point error: " + kind + " at step " +
                                            std::to_string(r.Step) + ": " +
                                            ended.substr(ended.find(after) + after.size()) + "\n");
}

TEST(LibraryRun, FromAnotherGridTheFieldsComeInThisRunsUnits) {
    // A coarse run's fields at its checkpoint of step 500, onto a grid twice
    // as fine with other wall temperatures: on the shared nodes the velocity
    // is scaled by the ratio of the reference velocities, the density's
    // departure from its mean by its square, the temperature mapped between
    // the walls.
    In_Temporary_Folder folder;
    const Physical_Parameters coarse_p{0.71f, 1e4f, 1.0f, 0.0f, 0.5f, 0.6f};
    const Physical_Parameters fine_p{0.71f, 1e4f, 3.0f, 1.0f, 2.0f, 0.6f};
    Run_Options keep;
    keep.Checkpoint_File = "c.ckpt";
    keep.Checkpoint_Every = 500;
    ::Run c;
    Start_Run(c, Solver::Fast, keep, 8, 8, coarse_p);
    ASSERT_EQ(Advance_Run(c, 500), Advance_End::Paused);
    Run_Options from;
    from.Start_From = "c.ckpt";
    ::Run f;
    Start_Run(f, Solver::Fast, from, 16, 16, fine_p);
    const double scale =
        double(Derive_Constants(fine_p, 16).U_Ref) / Derive_Constants(coarse_p, 8).U_Ref;
    EXPECT_NEAR(scale, 0.5, 1e-6);
    for (int j = 1; j < 8; ++j)
        for (int i = 1; i < 8; ++i) {
            const std::size_t from_node = Node(8, i, j), to_node = Node(16, 2 * i, 2 * j);
            EXPECT_NEAR(f.U[to_node], c.U[from_node] * scale, 1e-7) << i << ", " << j;
            EXPECT_NEAR(f.V[to_node], c.V[from_node] * scale, 1e-7) << i << ", " << j;
            EXPECT_NEAR(f.T[to_node], 1.0 + 2.0 * c.T[from_node], 1e-6) << i << ", " << j;
        }
    // The fine grid's own interior mean of the density is not the coarse
    // one's, but its departures are the coarse ones' times the square.
    const double d_coarse = double(c.Rho[Node(8, 4, 6)]) - c.Rho[Node(8, 4, 2)];
    const double d_fine = double(f.Rho[Node(16, 8, 12)]) - f.Rho[Node(16, 8, 4)];
    EXPECT_NEAR(d_fine, d_coarse * scale * scale, 1e-7);
}

} // namespace
