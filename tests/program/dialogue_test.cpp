// The console dialogue of whole runs, byte for byte.
#include "support/program_run.hpp"

#include <gtest/gtest.h>

using program::Parameter_File;
using program::Program_Run;

namespace {

const std::string Stars78(78, '*');

// Everything a run prints before its first time step, after answers that
// are read from a script (nothing echoes the typed lines).
const std::string Opening =
    "* Please Enter Dimensions(n And m Respectively).*\r\n"
    "n=m=Pause - Please enter a blank line (to continue) or a DOS command.\r\n"
    "*************************\r\n"
    "* Please Waite...       *\r\n" +
    Stars78;

const std::string Closing =
    "\r\n\r\nSolution Has Finished!\r\n\r\nThanks For Using This Code.\r\n\r\n";

// On a grid one column wide both columns are walls at fixed temperatures:
// nothing changes, the temperature residual is 0 after the first step, and
// the run ends there.
const std::string One_Step = Parameter_File("0.71", "1e4", "1", "0", "0.5", "0.8");

TEST(Dialogue, RunThatStopsOnTheFirstStepPrintsNoReport) {
    Program_Run run(&One_Step);
    ASSERT_EQ(run.Start("1\n10\n\n"), 0) << run.err;
    EXPECT_EQ(run.out, Opening + Closing);
    EXPECT_EQ(run.err, "note: wall-corrected mean Nu (second order, walls half a spacing inside the "
                       "end nodes): none on a grid 1 wide; it needs two fluid columns beside each "
                       "wall (n at least 3)\n");
    EXPECT_EQ(run.File("Result.dat").size(), 32u + 34u + 116u * 2u * 11u);
}

TEST(Dialogue, BlankLinesAndExtraNumbersOnTheAnswerLines) {
    Program_Run run(&One_Step);
    ASSERT_EQ(run.Start("\n   \n1 60\n\t\n10\n\n"), 0) << run.err;
    EXPECT_EQ(run.out, Opening + Closing);
    EXPECT_EQ(program::Read_File(run.dir / "Result.dat").substr(32, 34),
              " ZONE I=          2J=         11\r\n");
}

TEST(Dialogue, PauseRunsATwoCharacterAnswerAsACommand) {
    Program_Run run(&One_Step);
    ASSERT_EQ(run.Start("1\n4\necho ran-at-the-pause > pause.txt   \t\n"), 0) << run.err;
    EXPECT_EQ(run.File("pause.txt"), "ran-at-the-pause\n");
    EXPECT_EQ(run.out, Opening + Closing);
}

TEST(Dialogue, PauseAtTheEndOfInputGoesOn) {
    Program_Run run(&One_Step);
    ASSERT_EQ(run.Start("1\n4"), 0) << run.err;
    EXPECT_EQ(run.out, Opening + Closing);
}

TEST(Dialogue, ReportsEveryFiftyStepsWithTheResidualsOfTheStepBefore) {
    std::string params = Parameter_File("0.71", "1e3", "1", "0", "0", "1.5");
    Program_Run run(&params);
    ASSERT_EQ(run.Start("12\n8\n\n"), 0) << run.err;
    ASSERT_EQ(run.out.substr(0, Opening.size()), Opening);
    std::string body = run.out.substr(Opening.size());
    // Three lines a report, numbered 1, 2, ...
    std::size_t p = 0;
    int reports = 0;
    while (body.compare(p, 8, "\r\nStep==") == 0) {
        ++reports;
        std::string number = std::to_string(reports);
        std::string step_line = "\r\nStep==" + std::string(11 - number.size(), ' ') + number +
                                "           Nu On Hot Wall==";
        ASSERT_EQ(body.compare(p, step_line.size(), step_line), 0) << body.substr(p, 80);
        std::size_t e1 = body.find("\r\n", p + 2);
        std::size_t e2 = body.find("\r\n", e1 + 2);
        std::size_t e3 = body.find("\r\n", e2 + 2);
        EXPECT_EQ(e1 - p - 2, std::size_t(6 + 11 + 27 + 15)); // the record less its first blank
        EXPECT_EQ(body.compare(e1, 18, "\r\nResidual of Th=="), 0);
        EXPECT_EQ(body.substr(e2, 80), "\r\n" + Stars78);
        p = e3;
    }
    EXPECT_GT(reports, 2);
    EXPECT_EQ(body.substr(p), Closing);
}

} // namespace
