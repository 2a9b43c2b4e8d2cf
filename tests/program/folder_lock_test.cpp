// One run a folder: of two runs started together in one folder exactly one
// runs, the other is refused at once naming it; a run killed outright leaves
// nothing in the way of the next.
#include "support/program_run.hpp"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>

using program::Program_Run;

namespace {

const std::string Golden = CAVITY_GOLDEN_DIR "/side_heated_12x8/";

// The answers of the recorded case with a pause command that holds the run
// (and so the folder) for a while.
std::string Held_Answers(const std::string& seconds) {
    return "12\n8\nsleep " + seconds + "\n";
}

TEST(FolderLock, OfTwoRunsStartedTogetherExactlyOneRunsAndTheOtherNamesIt) {
    const std::string params = program::Read_File(Golden + "Input_Parameters.Input");
    Program_Run run(&params);
    program::Write_File(run.dir / "console.in", Held_Answers("1"));
    const std::string both = "cd '" + run.dir.string() +
                             "' && { '" CAVITY_BIN
                             "' < console.in > a.out 2> a.err & a=$!; '" CAVITY_BIN
                             "' < console.in > b.out 2> b.err & b=$!; echo $a > a.pid; "
                             "echo $b > b.pid; wait $a; echo $? > a.rc; wait $b; echo $? > b.rc; }";
    ASSERT_EQ(std::system(both.c_str()), 0);
    const std::string rc_a = run.File("a.rc"), rc_b = run.File("b.rc");
    ASSERT_TRUE((rc_a == "0\n" && rc_b == "1\n") || (rc_a == "1\n" && rc_b == "0\n"))
        << rc_a << rc_b << run.File("a.err") << run.File("b.err");
    const std::string ran = rc_a == "0\n" ? "a" : "b", refused = rc_a == "0\n" ? "b" : "a";
    std::string pid = run.File(ran + ".pid");
    pid.pop_back();
    EXPECT_EQ(run.File(refused + ".out"), "");
    EXPECT_EQ(run.File(refused + ".err"),
              "output error: this folder is in use by another run (process id " + pid +
                  ", lock file .cavity.lock); wait for that run to end, or start this one in "
                  "another folder\n");
    // The run that ran wrote every byte of the recorded case, and nothing
    // is left of the lock or of a temporary file.
    EXPECT_EQ(run.File(ran + ".out"), program::Read_File(Golden + "console.expected"));
    for (const char* f : program::Result_Files)
        EXPECT_EQ(run.File(f), program::Read_File(Golden + f + ".expected")) << f;
    for (auto& e : program::fs::directory_iterator(run.dir)) {
        const std::string name = e.path().filename().string();
        EXPECT_TRUE(name != ".cavity.lock" && !name.ends_with(".tmp")) << name;
    }
}

TEST(FolderLock, ARunKilledOutrightStandsInNoOnesWay) {
    const std::string params = program::Read_File(Golden + "Input_Parameters.Input");
    Program_Run run(&params);
    program::Write_File(run.dir / "held.in", Held_Answers("3"));
    // Killed while its pause command runs: the command must not hold the lock.
    const std::string held = "cd '" + run.dir.string() +
                             "' && { '" CAVITY_BIN
                             "' < held.in > held.out 2>&1 & echo $! > held.pid; }";
    ASSERT_EQ(std::system(held.c_str()), 0);
    std::string pid;
    for (int k = 0; k < 500 && (pid.empty() || run.File(".cavity.lock") != pid); ++k) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        pid = run.File("held.pid");
    }
    ASSERT_EQ(run.File(".cavity.lock"), pid);
    while (run.File("held.out").find("Pause") == std::string::npos)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(std::system(("kill -9 " + pid).c_str()), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(run.Has(".cavity.lock"));
    ASSERT_EQ(run.Start(program::Read_File(Golden + "console.in")), 0) << run.err;
    EXPECT_EQ(run.out, program::Read_File(Golden + "console.expected"));
    EXPECT_FALSE(run.Has(".cavity.lock"));
}

} // namespace
