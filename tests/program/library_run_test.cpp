// The run started and advanced as a library does, in this process: the bytes
// of the program after its dialogue, the same warnings and files, and a
// floating-point trap that ends the run but not the process.
#include "driver/run.hpp"
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
    const std::string kind = program.err.substr(last + 22, program.err.size() - last - 23);

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
    EXPECT_THROW(End_Run(r), Run_Error);
}

} // namespace
