// Memory end to end: the check before allocation counts what a run really
// holds, and storage that cannot be had ends the run with a clean report.
#include "process/run_time.hpp"
#include "step/time_step.hpp"
#include "support/program_run.hpp"
#include "support/spawn.hpp"

#include <gtest/gtest.h>

using program::Parameter_File;
using program::Program_Run;

namespace {

// Any parameters: these runs end before the first step.
const std::string One_Step = Parameter_File("0.71", "1e4", "1", "0", "0.5", "0.8");
// A flow that a 1000 x 1000 grid resolves well, with U_Ref below 0.1 of the
// sound speed there: no warning before the first report.
const std::string Large_Grid = Parameter_File("0.71", "1e7", "1", "0", "0", "0.56");

double Figure_After(const std::string& text, const std::string& label) {
    std::size_t p = text.find(label);
    return p == std::string::npos ? -1.0 : std::stod(text.substr(p + label.size()));
}

TEST(MemoryCheck, RefusesAGridTheMachineCannotHoldWithBothFigures) {
    Program_Run run(&One_Step);
    EXPECT_EQ(run.Start("2147483646\n1290\n"), 1);
    EXPECT_EQ(run.err.rfind("run-time error: a 2147483646 x 1290 grid needs ", 0), 0u) << run.err;
    std::uint64_t limit = Control_Group_Limit(), physical = Physical_Memory();
    std::uint64_t have = limit != 0 && limit < physical ? limit : physical;
    // The program's threads, as it finds them in this same environment.
    const int threads = Step_Threads(2147483646, 1290, 0);
    EXPECT_NEAR(Figure_After(run.err, " grid needs "),
                Bytes_Needed(2147483646, 1290, threads) / 1e9, 0.05);
    EXPECT_NEAR(Figure_After(run.err, " is "), limit != 0 && limit < physical ? have / 1e9 : -1,
                0.05);
    EXPECT_NEAR(Figure_After(run.err, " has "), limit != 0 && limit < physical ? -1 : have / 1e9,
                0.05);
    EXPECT_EQ(run.Stray_Files(), 0);
}

TEST(MemoryCheck, PeakUseOfARunIsWhatTheCheckCounts) {
    if (program::Address_Sanitized)
        GTEST_SKIP() << "the sanitizer's shadow memory counts in the resident size";
    const int n = 600, m = 400;
    Program_Run run(&Large_Grid);
    program::Write_File(run.dir / "console.in", "600\n400\n\n");
    // Two reports, then the end that --settle makes at once with so wide a
    // tolerance: the whole life of a run, result files included.
    program::Ended end = program::Wait_Program(
        program::Spawn_Program(run.dir, {"--settle", "1e9", "--settle-window", "100"}));
    ASSERT_TRUE(WIFEXITED(end.status) && WEXITSTATUS(end.status) == 0)
        << program::Read_File(run.dir / "console.err");
    std::uint64_t peak = std::uint64_t(end.usage.ru_maxrss) * 1024;
    std::uint64_t nodes = std::uint64_t(n + 1) * (m + 1);
    // Every byte a node that the check counts is really held, and nothing
    // beyond what it counts.
    EXPECT_GE(peak, nodes * Bytes_A_Node);
    EXPECT_LE(peak, Bytes_Needed(n, m, Step_Threads(n, m, 0)));
}

// Address-space limits (ulimit -v, in KiB) that let the program start but
// not hold a 1000 x 1000 grid (1002001 nodes, 4 MB a two-dimensional array).
TEST(AllocationFailure, FieldArrayIsNamedInTheReport) {
    if (program::Address_Sanitized)
        GTEST_SKIP() << "the sanitizer needs an unlimited address space";
    Program_Run run(&One_Step);
    EXPECT_EQ(run.Start("1000\n1000\n\n", "ulimit -v 60000;"), 1);
    // Which array is the first that does not fit depends on the libraries.
    std::string head = "run-time error: cannot allocate ", tail = " bytes): out of memory\n";
    ASSERT_EQ(run.err.rfind(head, 0), 0u) << run.err;
    ASSERT_GE(run.err.size(), head.size() + tail.size());
    EXPECT_EQ(run.err.substr(run.err.size() - tail.size()), tail);
    std::string array = run.err.substr(head.size(), run.err.find(' ', head.size()) - head.size());
    std::string size = array == "F" || array == "Feq" || array == "G" ? "36072036" : "4008004";
    EXPECT_EQ(run.err, head + array + " (" + size + tail);
    EXPECT_EQ(run.Stray_Files(), 0);
}

TEST(AllocationFailure, WorkingStorageOfTheResultFilesIsAReportNotACrash) {
    if (program::Address_Sanitized)
        GTEST_SKIP() << "the sanitizer needs an unlimited address space";
    // The fields (136 MB) fit; the text of "Result.dat" (116 MB), needed at
    // the first report, does not. One thread: a second one's stack may be
    // what does not fit first, a failure of its own.
    Program_Run run(&Large_Grid);
    EXPECT_EQ(run.Start("1000\n1000\n\n", "ulimit -v 200000;", CAVITY_BIN, "--threads 1"), 1);
    EXPECT_EQ(run.err, "run-time error: out of memory\n");
    EXPECT_EQ(run.Stray_Files(), 0);
}

} // namespace
