// The result files of whole runs: where they go wrong, the run says so.
#include "support/program_run.hpp"
#include "support/result_check.hpp"

#include <gtest/gtest.h>

using program::Parameter_File;
using program::Program_Run;

namespace {

// On a one-column grid both columns are walls at fixed temperatures: the
// temperature residual is 0 after the first step, which ends the run.
const std::string Quick = Parameter_File("0.71", "1e4", "1", "0", "0.5", "0.8");

TEST(ResultFilesOnDisk, AllFiveWithTheirSizes) {
    // A cavity that converges in 1000 steps.
    const std::string params = Parameter_File("0.71", "100", "1", "0", "0", "0.8");
    Program_Run run(&params);
    ASSERT_EQ(run.Start("20\n10\n\n"), 0) << run.err;
    EXPECT_EQ(run.File("Result.dat").size(), 32u + 34u + 116u * 21u * 11u);
    EXPECT_EQ(run.File("Nu.dat").size(), 18u);
    EXPECT_EQ(run.File("V_Velocity_MidLine.dat").size(), 17u + 34u * 21u);
    EXPECT_EQ(run.File("TEMPERATURE_MidLine.dat").size(), 17u + 34u * 21u);
    EXPECT_EQ(run.File("U_Velocity_Vertical_MidLine.dat").size(), 17u + 34u * 11u);
    EXPECT_EQ(run.Stray_Files(), 5);
}

TEST(ResultFilesOnDisk, OldSnapshotIsReplacedWhole) {
    Program_Run run(&Quick);
    // A longer file from before: nothing of it may remain.
    program::Write_File(run.dir / "Nu.dat", std::string(5000, 'z'));
    ASSERT_EQ(run.Start("1\n4\n\n"), 0) << run.err;
    EXPECT_EQ(run.File("Nu.dat").size(), 18u);
}

TEST(ResultFilesOnDisk, NameTakenByADirectoryIsRefusedBeforeTheDialogue) {
    Program_Run run(&Quick);
    program::fs::create_directory(run.dir / "Nu.dat");
    // A temporary file a killed run left is the run's own to try.
    program::Write_File(run.dir / "Result.dat.tmp", "left by a killed run");
    EXPECT_EQ(run.Start("1\n4\n\n"), 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "output error: cannot replace Nu.dat: Is a directory; the run writes its "
                       "result files under their names: move it away, or start the run in "
                       "another folder\n");
    EXPECT_FALSE(run.Has("Result.dat.tmp"));
    EXPECT_EQ(run.Stray_Files(), 1); // Nu.dat, the directory
}

TEST(ResultFilesOnDisk, FileSizeLimitIsAnErrorAndLeavesNoTemporaryFile) {
    Program_Run run(&Quick);
    // 8 blocks (of 512 or 1024 bytes): the console output fits, "Result.dat"
    // (14 kB) does not.
    EXPECT_EQ(run.Start("1\n60\n\n", "ulimit -f 8;"), 1);
    EXPECT_EQ(run.err, "output error: cannot write Result.dat: File too large\n");
    EXPECT_EQ(run.Stray_Files(), 0);
}

// A run that overflows after some reports: the report, status 1, and the five
// files of the last report whole, with the Nusselt number it printed.
void Check_Overflow_Keeps_Last_Report(const std::string& params, int n, int m) {
    Program_Run run(&params);
    EXPECT_EQ(run.Start(std::to_string(n) + "\n" + std::to_string(m) + "\n\n"), 1);
    // After the warnings that such parameters get.
    std::istringstream lines(run.err);
    std::string line, previous;
    while (std::getline(lines, line)) {
        if (!previous.empty()) {
            EXPECT_EQ(previous.rfind("warning: ", 0), 0u) << previous;
        }
        previous = line;
    }
    // The line names the step, after the last report and at most the next,
    // and the warned cause.
    std::size_t last = run.out.rfind("Nu On Hot Wall==");
    ASSERT_NE(last, std::string::npos) << "no report before the overflow";
    const std::string head = "floating-point error: overflow at step ";
    ASSERT_EQ(previous.rfind(head, 0), 0u) << previous;
    const int step = std::stoi(previous.substr(head.size()));
    const int report = std::stoi(run.out.substr(run.out.rfind("Step==") + 6));
    EXPECT_GT(step, 50 * report);
    EXPECT_LE(step, 50 * (report + 1));
    EXPECT_NE(previous.find(": the flow has blown up, as "), std::string::npos) << previous;
    EXPECT_NE(previous.find(" warned above"), std::string::npos) << previous;
    std::string nu_printed = run.out.substr(last + 16, 15);
    EXPECT_EQ(run.File("Nu.dat"), " " + nu_printed + "\r\n");
    for (const char* f : program::Result_Files)
        EXPECT_EQ(program::Snapshot_Fault(f, run.File(f), n, m), "") << f;
    EXPECT_EQ(run.Stray_Files(), 5); // no temporary file left
    // The standard output ends on a fresh line before the report.
    EXPECT_EQ(run.out.substr(run.out.size() - 2), "\r\n");
}

TEST(ResultFilesOnDisk, OverflowLeavesTheFilesOfTheLastReport) {
    // Hardly any viscosity: stable for a while, then the run blows up.
    Check_Overflow_Keeps_Last_Report(Parameter_File("0.71", "1e7", "1", "0", "0", "0.505"), 12, 8);
}

TEST(ResultFilesOnDisk, HighRayleighOverflowLeavesTheFilesOfTheLastReport) {
    Check_Overflow_Keeps_Last_Report(Parameter_File("0.71", "3e5", "1", "0", "0", "0.8"), 40, 40);
}

int Reports_In(const std::string& out) {
    int count = 0;
    for (std::size_t at = out.find("Step=="); at != std::string::npos;
         at = out.find("Step==", at + 1))
        ++count;
    return count;
}

TEST(ResultFilesOnDisk, FilesEveryWritesAtItsReportsAndTheEndOnly) {
    // A run that converges after some twenty reports: the console and the
    // final files of a plain run.
    const std::string params = Parameter_File("0.71", "100", "1", "0", "0", "0.8");
    Program_Run plain(&params), sparse(&params);
    ASSERT_EQ(plain.Start("20\n10\n\n"), 0) << plain.err;
    ASSERT_EQ(sparse.Start("20\n10\n\n", "", CAVITY_BIN, "--files-every 300"), 0) << sparse.err;
    ASSERT_GT(Reports_In(plain.out), 8);
    EXPECT_EQ(sparse.out, plain.out);
    EXPECT_EQ(sparse.err, plain.err);
    for (const char* f : program::Result_Files)
        EXPECT_EQ(sparse.File(f), plain.File(f)) << f;
    EXPECT_EQ(sparse.Stray_Files(), 5);

    // Nothing written before step 200: Result.dat cannot be written there,
    // after the reports of steps 50 to 150.
    Program_Run limited(&params);
    EXPECT_EQ(limited.Start("20\n10\n\n", "ulimit -f 8;", CAVITY_BIN, "--files-every=200"), 1);
    EXPECT_EQ(limited.err, program::Without_Nu_Note(plain.err) +
                               "output error: cannot write Result.dat: File too large\n");
    EXPECT_EQ(Reports_In(limited.out), 3);

    // A run that blows up after six reports leaves the files of step 200
    // whole, not those of its last report.
    const std::string unstable = Parameter_File("0.71", "1e7", "1", "0", "0", "0.505");
    Program_Run blown(&unstable), blown_sparse(&unstable);
    EXPECT_EQ(blown.Start("12\n8\n\n"), 1);
    EXPECT_EQ(blown_sparse.Start("12\n8\n\n", "", CAVITY_BIN, "--files-every 200"), 1);
    EXPECT_EQ(blown_sparse.out, blown.out);
    ASSERT_EQ(Reports_In(blown.out), 6);
    const std::size_t fourth =
        blown.out.find("Nu On Hot Wall==", blown.out.find("Step==          4"));
    ASSERT_NE(fourth, std::string::npos);
    EXPECT_EQ(blown_sparse.File("Nu.dat"), " " + blown.out.substr(fourth + 16, 15) + "\r\n");
    for (const char* f : program::Result_Files)
        EXPECT_EQ(program::Snapshot_Fault(f, blown_sparse.File(f), 12, 8), "") << f;
    EXPECT_NE(blown_sparse.File("Result.dat"), blown.File("Result.dat"));
}

TEST(ResultFilesOnDisk, SnapshotCheckSeesAHalfWrittenFile) {
    // The check used by the overflow and interruption tests must see a cut.
    Program_Run run(&Quick);
    ASSERT_EQ(run.Start("1\n4\n\n"), 0) << run.err;
    for (const char* f : program::Result_Files) {
        std::string whole = run.File(f);
        ASSERT_EQ(program::Snapshot_Fault(f, whole, 1, 4), "") << f;
        EXPECT_NE(program::Snapshot_Fault(f, whole.substr(0, whole.size() - 1), 1, 4), "") << f;
        std::string garbled = whole;
        garbled[garbled.size() - 5] = 'x';
        EXPECT_NE(program::Snapshot_Fault(f, garbled, 1, 4), "") << f;
        if (std::string(f) != "Nu.dat") { // the other files depend on n or m
            EXPECT_NE(program::Snapshot_Fault(f, whole, 2, 5), "") << f;
        }
    }
}

} // namespace
