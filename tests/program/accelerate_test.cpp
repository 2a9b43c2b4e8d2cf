// --accelerate: the run ends on the steady state that plain steps reach, a
// spoilt extrapolation is undone, and a checkpoint taken on the way resumes
// to the bytes of the run never stopped.
#include "support/program_run.hpp"

#include <gtest/gtest.h>

using program::Program_Run;

namespace {

// 32 x 32 at Ra 1e5: plain steps leave rounding above the stop, so the run
// ends by --settle, after some 17 500 steps (14 000 accelerated).
const std::string Params = program::Parameter_File("0.71", "1e5", "1", "0", "0.5", "0.56");
const std::string Answers = "32\n32\n\n";

double Nu_Of(const Program_Run& run) {
    return std::stod(run.File("Nu.dat"));
}

// The note an accelerated run ends with, from standard error.
std::string Acceleration_Note(const std::string& err) {
    const std::size_t at = err.find("note: --accelerate: ");
    return at == std::string::npos ? "" : err.substr(at, err.find('\n', at) - at);
}

// The steady state itself: plain steps until Nu has not moved by 1e-7 over
// 40 000 steps (rounding noise of Nu is about 1e-6 here).
double Steady_Nu() {
    Program_Run plain(&Params);
    EXPECT_EQ(plain.Start(Answers, "", CAVITY_BIN, "--settle 1e-7 --settle-window 40000"), 0);
    return Nu_Of(plain);
}

TEST(Accelerate, EndsOnTheSteadyStateOfPlainStepsAndUndoesASpoiltExtrapolation) {
    const double steady = Steady_Nu();

    Program_Run run(&Params);
    ASSERT_EQ(run.Start(Answers, "", CAVITY_BIN, "--accelerate --settle 1e-5"), 0) << run.err;
    EXPECT_NE(run.err.find("note: settled at step "), std::string::npos) << run.err;
    EXPECT_NE(Acceleration_Note(run.err).find(" extrapolations ("), std::string::npos);
    EXPECT_NEAR(Nu_Of(run), steady, 1e-5 * steady);

    // An infinite value in the second extrapolation: the moments formed from
    // it would trap, so the run goes back to the state before it, and on.
    Program_Run spoilt(&Params);
    ASSERT_EQ(spoilt.Start(Answers, "CAVITY_TEST_SPOIL_EXTRAPOLATION=2", CAVITY_BIN,
                           "--accelerate --settle 1e-5"),
              0)
        << spoilt.err;
    EXPECT_EQ(spoilt.err.find("floating-point error"), std::string::npos);
    EXPECT_NE(spoilt.out, run.out);
    EXPECT_EQ(Acceleration_Note(spoilt.err).find(" (0 undone)"), std::string::npos)
        << Acceleration_Note(spoilt.err);
    EXPECT_NEAR(Nu_Of(spoilt), steady, 1e-5 * steady);
}

// In the bounce-back scheme too (its insulated walls' rows take the
// temperature of the rows beside them, in an extrapolated state as in a
// step): the steady state of its plain steps.
TEST(Accelerate, EndsOnTheSteadyStateOfABounceBackRun) {
    Program_Run plain(&Params), run(&Params);
    ASSERT_EQ(plain.Start(Answers, "", CAVITY_BIN, "--scheme bounce-back --settle 1e-6"), 0);
    ASSERT_EQ(run.Start(Answers, "", CAVITY_BIN, "--scheme bounce-back --accelerate --settle 1e-5"),
              0)
        << run.err;
    EXPECT_NE(Acceleration_Note(run.err).find(" extrapolations ("), std::string::npos);
    EXPECT_NEAR(Nu_Of(run), Nu_Of(plain), 1.5e-5 * Nu_Of(plain));
    EXPECT_NE(run.err.find("; scheme bounce-back): "), std::string::npos);
}

// Standard output from the report of step `step` on (its dialogue and
// banner come before the first report).
std::string Reports_From(const std::string& out, int step) {
    std::size_t at = out.find("Step==");
    for (int k = 50; k < step && at != std::string::npos; k += 50)
        at = out.find("Step==", at + 1);
    return at == std::string::npos ? "" : out.substr(at);
}

TEST(Accelerate, ACheckpointOnTheWayResumesToTheBytesOfTheRunNeverStopped) {
    // 76 x 76 at Ra 1e5 extrapolates for some 30 000 steps, then shifts the
    // heat content near step 33 600: a run killed at the checkpoint of step
    // 30 000 (the step is the i32 at byte 48; the lock file holds its
    // process id) has the shift ahead.
    const std::string params =
        program::Parameter_File("0.71", "104053.6", "1", "0", "0.5", "0.5726");
    const std::string answers = "76\n76\n\n";
    const std::string args =
        "--threads 1 --accelerate --settle 1e-5 --checkpoint c.ckpt --checkpoint-every 10000";
    Program_Run whole(&params);
    ASSERT_EQ(whole.Start(answers, "", CAVITY_BIN, args), 0) << whole.err;

    Program_Run cut(&params);
    const std::string kill_at_step_30000 =
        "{ ( until [ -e c.ckpt ] && [ $(od -An -t d4 -j 48 -N 4 c.ckpt) -ge 30000 ]; do sleep "
        "0.01; done; kill -9 $(cat .cavity.lock) ) & } ;";
    EXPECT_NE(cut.Start(answers, kill_at_step_30000, CAVITY_BIN, args), 0);
    ASSERT_TRUE(cut.Has("c.ckpt"));
    ASSERT_EQ(cut.Start(answers, "", CAVITY_BIN, args), 0) << cut.err;
    const std::string going_on = "going on from step ";
    const std::size_t at = cut.err.find(going_on);
    ASSERT_NE(at, std::string::npos) << cut.err;
    const int step = std::stoi(cut.err.substr(at + going_on.size()));
    EXPECT_EQ(Reports_From(cut.out, 50), Reports_From(whole.out, step + 50));
    EXPECT_NE(Acceleration_Note(cut.err).find(" and 1 shift of the heat content"),
              std::string::npos)
        << cut.err;
    EXPECT_NE(whole.err.find("settled estimate above is not a bound"), std::string::npos);
    for (const char* f : program::Result_Files)
        EXPECT_EQ(cut.File(f), whole.File(f)) << f;
    const std::string settled = "note: settled at step ";
    EXPECT_EQ(cut.err.substr(cut.err.find(settled), 40),
              whole.err.substr(whole.err.find(settled), 40));
}

} // namespace
