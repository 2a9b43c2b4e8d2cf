// The result files of whole runs: where they go wrong, the run says so.
#include "support/program_run.hpp"

#include <gtest/gtest.h>

using program::Parameter_File;
using program::Program_Run;

namespace {

const std::string Quick = Parameter_File("0.71", "1e4", "1", "0", "0.5", "0.8");

TEST(ResultFilesOnDisk, AllFiveWithTheirSizes) {
    Program_Run run(&Quick);
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
    ASSERT_EQ(run.Start("4\n4\n\n"), 0) << run.err;
    EXPECT_EQ(run.File("Nu.dat").size(), 18u);
}

TEST(ResultFilesOnDisk, NameTakenByADirectoryIsAnError) {
    Program_Run run(&Quick);
    program::fs::create_directory(run.dir / "Result.dat");
    EXPECT_EQ(run.Start("4\n4\n\n"), 1);
    EXPECT_EQ(run.err, "output error: cannot replace Result.dat: Is a directory\n");
    EXPECT_FALSE(run.Has("Result.dat.tmp"));
    EXPECT_FALSE(run.Has("Nu.dat"));
}

TEST(ResultFilesOnDisk, FileSizeLimitIsAnErrorAndLeavesNoTemporaryFile) {
    Program_Run run(&Quick);
    // 8 blocks (of 512 or 1024 bytes): the console output fits, "Result.dat" does not.
    EXPECT_EQ(run.Start("10\n10\n\n", "ulimit -f 8;"), 1);
    EXPECT_EQ(run.err, "output error: cannot write Result.dat: File too large\n");
    EXPECT_EQ(run.Stray_Files(), 0);
}

TEST(ResultFilesOnDisk, OverflowLeavesTheFilesOfTheLastReport) {
    // Negative diffusivity: stable for a while, then the run blows up.
    std::string params = Parameter_File("0.71", "1e4", "1", "0", "0", "0.48");
    Program_Run run(&params);
    EXPECT_EQ(run.Start("12\n8\n\n"), 1);
    EXPECT_EQ(run.err, "floating-point error: overflow\n");
    std::size_t last = run.out.rfind("Nu On Hot Wall==");
    ASSERT_NE(last, std::string::npos) << "no report before the overflow";
    std::string nu_printed = run.out.substr(last + 16, 15);
    EXPECT_EQ(run.File("Nu.dat"), " " + nu_printed + "\r\n");
    EXPECT_EQ(run.File("Result.dat").size(), 32u + 34u + 116u * 13u * 9u);
    EXPECT_EQ(run.Stray_Files(), 5);
    // The standard output ends on a fresh line before the report.
    EXPECT_EQ(run.out.substr(run.out.size() - 2), "\r\n");
}

} // namespace
