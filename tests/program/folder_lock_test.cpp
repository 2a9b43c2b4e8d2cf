// One run a folder: of two runs started together in one folder exactly one
// runs, the other is refused at once naming it; a run killed outright leaves
// nothing in the way of the next.
#include "support/program_run.hpp"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

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

// The prefix that runs the program as a user who may not write in a folder
// of root's, or "" where that cannot be arranged (root may write anywhere).
std::string As_Another_User() {
    if (::geteuid() != 0)
        return " ";
    const std::string prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups";
    return std::system((prefix + " true 2>/dev/null").c_str()) == 0 ? prefix : "";
}

// A folder the user may read but not write in: the run is refused before it
// asks anything, as the lock could not be made (the user's report: 20 000
// steps made, then the first write failed), and again, where a lock file is
// there to be locked, as no result file could be; nothing is written.
TEST(FolderLock, AFolderTheRunCannotWriteInIsRefusedBeforeTheFirstStep) {
    const std::string user = As_Another_User();
    if (user.empty())
        GTEST_SKIP() << "runs as root and cannot run the program as another user (setpriv)";
    namespace fs = program::fs;
    const std::string params = program::Read_File(Golden + "Input_Parameters.Input");
    Program_Run run(&params), logs;
    program::Write_File(run.dir / "console.in", program::Read_File(Golden + "console.in"));
    const std::string start = "cd '" + run.dir.string() + "' && " + user +
                              " '" CAVITY_BIN "' --files-every 20000 < console.in > '" +
                              logs.dir.string() + "/out' 2> '" + logs.dir.string() + "/err'";
    const std::string remedy = "; a run writes its lock and its result files in the folder it "
                               "starts in: start it in a folder you may write to\n";
    const std::string expected[] = {
        "output error: cannot create the lock file .cavity.lock in this folder: Permission "
        "denied" +
            remedy,
        "output error: cannot create Result.dat.tmp: Permission denied" + remedy};
    const fs::perms read_only = fs::perms::owner_read | fs::perms::owner_exec |
                                fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec;
    for (const std::string& err : expected) {
        fs::permissions(run.dir, read_only);
        const int rc = std::system(start.c_str());
        fs::permissions(run.dir, fs::perms::owner_all);
        EXPECT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 1) << rc;
        EXPECT_EQ(logs.File("out"), "");
        EXPECT_EQ(logs.File("err"), err);
        EXPECT_EQ(run.Stray_Files(), err == expected[0] ? 0 : 1);
        // A lock file that the user may lock but not write (root's, or made
        // read-only), as another user's run leaves it.
        program::Write_File(run.dir / ".cavity.lock", "");
        fs::permissions(run.dir / ".cavity.lock",
                        fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    }
    EXPECT_EQ(run.File(".cavity.lock"), "");
}

// A file system without locks: the run goes on unlocked, with a warning,
// and writes every byte as it would with the lock.
TEST(FolderLock, AFileSystemWithoutLocksRunsUnlockedWithAWarning) {
    const std::string params = program::Read_File(Golden + "Input_Parameters.Input");
    Program_Run run(&params);
    ASSERT_EQ(run.Start(program::Read_File(Golden + "console.in"),
                        "LD_PRELOAD='" NO_LOCKS_PRELOAD "' ASAN_OPTIONS=verify_asan_link_order=0"),
              0)
        << run.err;
    EXPECT_EQ(run.out, program::Read_File(Golden + "console.expected"));
    EXPECT_EQ(run.err, "warning: the lock file .cavity.lock cannot be locked here (No locks "
                       "available): the run goes on without the lock, so a second run started "
                       "in this folder meanwhile would not be refused and would overwrite its "
                       "files\n" +
                           program::Read_File(Golden + "console-errors.expected"));
    for (const char* f : program::Result_Files)
        EXPECT_EQ(run.File(f), program::Read_File(Golden + f + ".expected")) << f;
}

} // namespace
