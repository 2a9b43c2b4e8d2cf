// How whole runs end and what they say of it on standard error: a start at
// rest, a strip without fluid, the step limit and the note on a steady run,
// --settle, the command line and the kernels, and the status line on a
// terminal.
#include "lattice/kernel_set.hpp"
#include "support/program_run.hpp"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

using program::Parameter_File;
using program::Program_Run;

namespace {

int Count(const std::string& text, const std::string& what) {
    int count = 0;
    for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1))
        ++count;
    return count;
}

const std::string Closing =
    "\r\n\r\nSolution Has Finished!\r\n\r\nThanks For Using This Code.\r\n\r\n";

TEST(RunEnd, StartAtTheMeanWallTemperatureConvergesAsAnyRun) {
    // No buoyancy on the first step: the flow residual of a fluid at rest
    // does not stop the run, which goes on once the walls have warmed it.
    const std::string params = Parameter_File("0.71", "100", "1", "0", "0.5", "0.8");
    Program_Run run(&params);
    ASSERT_EQ(run.Start("16\n16\n\n"), 0) << run.err;
    EXPECT_EQ(program::Without_Nu_Note(run.err), "");
    EXPECT_GE(Count(run.out, "Step=="), 10);
    EXPECT_EQ(run.out.substr(run.out.size() - Closing.size()), Closing);
    EXPECT_NE(run.File("Nu.dat"), "        2.000000\r\n"); // not the conduction start
}

TEST(RunEnd, StripWithoutFluidRunsToItsTemperatureStop) {
    // Six columns of wall nodes: conduction alone, the flow at rest by right.
    const std::string params = Parameter_File("0.71", "1e4", "1", "0", "0", "0.8");
    Program_Run run(&params);
    ASSERT_EQ(run.Start("6\n1\n\n"), 0) << run.err;
    // Conduction between walls half a spacing inside the end columns: 1.
    ASSERT_NE(run.err.find("hot wall "), std::string::npos) << run.err;
    EXPECT_NEAR(std::stod(run.err.substr(run.err.find("hot wall ") + 9)), 1.0, 1e-4);
    EXPECT_NEAR(std::stod(run.err.substr(run.err.find("cold wall ") + 10)), 1.0, 1e-4);
    // The cavity between those walls has no height, and no Ra of its own.
    EXPECT_EQ(program::Without_Nu_Note(run.err),
              "warning: on a 6 x 1 grid the cavity between the walls, which sit half a spacing "
              "inside the end nodes, is m - 1 = 0 spacings high: it holds no fluid and has no "
              "Rayleigh number, and Nu.dat is no Nusselt number of it (a 1 x 1 grid writes 4 for "
              "pure conduction, whose Nu is 1); m of at least 2 gives the cavity a height "
              "(cavity-sweep refuses m = 1 for the same reason)\n");
    EXPECT_EQ(run.err.find("; Ra = "), std::string::npos);
    const int reports = Count(run.out, "Step==");
    EXPECT_GE(reports, 3);
    EXPECT_EQ(Count(run.out, "Residual of Flow==   0.000000E+00"), reports);
}

// Without the residual stop a run that would meet it goes on to --settle;
// in the bounce-back scheme the note names the scheme.
TEST(RunEnd, NoResidualStopLeavesTheEndToSettle) {
    const std::string params = Parameter_File("0.71", "1e4", "1", "0", "0.5", "0.8");
    Program_Run plain(&params), on(&params);
    ASSERT_EQ(plain.Start("20\n20\n\n", "", CAVITY_BIN, "--scheme bounce-back --settle 1e-7"), 0);
    EXPECT_NE(plain.err.find("note: converged at step "), std::string::npos) << plain.err;
    ASSERT_EQ(on.Start("20\n20\n\n", "", CAVITY_BIN,
                       "--scheme bounce-back --settle 1e-7 --no-residual-stop"),
              0);
    EXPECT_NE(on.err.find("note: settled at step "), std::string::npos) << on.err;
    EXPECT_GT(Count(on.out, "Step=="), Count(plain.out, "Step=="));
    EXPECT_NE(on.err.find("nodes; scheme bounce-back): hot wall "), std::string::npos);
}

TEST(RunEnd, OneCellGridIsWarnedAndWritesWhatItAlwaysHas) {
    // Pure conduction, whose Nusselt number is 1: Nu.dat's sum over the two
    // rows of one wall column writes 4, as it always has; the warning says
    // that before the pause, as the tools refuse such a grid.
    const std::string params = Parameter_File("0.71", "1e4", "1", "0", "0", "0.8");
    Program_Run run(&params);
    ASSERT_EQ(run.Start("1\n1\n\n"), 0) << run.err;
    EXPECT_EQ(run.File("Nu.dat"), "        4.000000\r\n");
    EXPECT_EQ(program::Without_Nu_Note(run.err),
              "warning: on a 1 x 1 grid the cavity between the walls, which sit half a spacing "
              "inside the end nodes, is m - 1 = 0 spacings high: it holds no fluid and has no "
              "Rayleigh number, and Nu.dat is no Nusselt number of it (a 1 x 1 grid writes 4 for "
              "pure conduction, whose Nu is 1); m of at least 2 gives the cavity a height "
              "(cavity-sweep refuses m = 1 for the same reason)\n");
}

// A tiny cavity that rounding holds just above the stop: 1000000 steps.
const std::string Held_Above_The_Stop = Parameter_File("0.71", "1e4", "1", "0", "0", "0.515");

double Nu_Of(const Program_Run& run) {
    return std::stod(run.File("Nu.dat"));
}

// The step of a checkpoint file (the i32 at byte 48).
int Checkpoint_Step(const std::string& bytes) {
    std::int32_t step = 0;
    if (bytes.size() >= 52)
        std::memcpy(&step, bytes.data() + 48, 4);
    return step;
}

TEST(RunEnd, StepLimitIsToldAndSettleEndsTheSameRunEarly) {
    // Both keep a checkpoint of their end, though the interval is longer
    // than the run.
    const std::string keep = "--checkpoint c.ckpt --checkpoint-every 1000000";
    Program_Run full(&Held_Above_The_Stop);
    ASSERT_EQ(full.Start("5\n5\n\n", "", CAVITY_BIN, keep), 0) << full.err;
    EXPECT_EQ(Checkpoint_Step(full.File("c.ckpt")), 1000000);
    EXPECT_EQ(Count(full.out, "Step=="), 20000);
    // Once, while it goes on: steady, held above the stop.
    EXPECT_EQ(Count(full.err, "note: steady at step "), 1) << full.err;
    const std::size_t limit = full.err.find(
        "\nnote: step limit: all 1000000 steps were made without meeting the stop rule (a "
        "residual below 1e-07); the last residuals: temperature ");
    ASSERT_NE(limit, std::string::npos) << full.err;
    EXPECT_GT(limit, full.err.find("note: steady at step "));
    const std::string before_nu_note = program::Without_Nu_Note(full.err);
    EXPECT_EQ(before_nu_note.find('\n', limit + 1), before_nu_note.size() - 1); // then the Nu note

    Program_Run settled(&Held_Above_The_Stop);
    ASSERT_EQ(settled.Start("5\n5\n\n", "", CAVITY_BIN, "--settle 1e-5 " + keep), 0)
        << settled.err;
    const std::size_t note = settled.err.find("note: settled at step ");
    ASSERT_NE(note, std::string::npos) << settled.err;
    EXPECT_EQ(Count(program::Without_Nu_Note(settled.err), "note: "), 1);
    const int step = std::stoi(settled.err.substr(note + 22));
    EXPECT_EQ(Checkpoint_Step(settled.File("c.ckpt")), step);
    EXPECT_LT(step, 200000);
    EXPECT_EQ(step % 50, 0);
    EXPECT_NEAR(Nu_Of(settled), Nu_Of(full), 1e-3 * Nu_Of(full));
    // The same run up to its last report, then the closing lines.
    const std::string body = settled.out.substr(0, settled.out.size() - Closing.size());
    EXPECT_EQ(settled.out.substr(body.size()), Closing);
    EXPECT_EQ(full.out.compare(0, body.size(), body), 0);
    EXPECT_EQ(Count(body, "Step=="), step / 50);
    // Started again, it ends there at once with the same note.
    const std::string settled_err = settled.err;
    ASSERT_EQ(settled.Start("5\n5\n\n", "", CAVITY_BIN, "--settle 1e-5 " + keep), 0);
    EXPECT_EQ(Count(settled.out, "Step=="), 0);
    EXPECT_EQ(settled.err, "note: --checkpoint c.ckpt: going on from step " +
                               std::to_string(step) + "\n" + settled_err);
}

TEST(RunEnd, SettleWaitsForADampedSwingOfNu) {
    // A coarse cavity with little viscosity: Nu swings with a period of
    // about 20000 steps, damped to 1e-4 by step 95450. The means of two
    // half windows of 20000 steps agreed to 1e-5 at step 76050, 6e-4 below
    // the value of step 300000, 4.549027.
    const std::string swinging = Parameter_File("0.71", "109992.951", "1", "0", "0.5", "0.505138");
    Program_Run run(&swinging);
    ASSERT_EQ(run.Start("32\n32\n\n", "", CAVITY_BIN, "--settle 1e-5"), 0) << run.err;
    const std::size_t note = run.err.find("note: settled at step ");
    ASSERT_NE(note, std::string::npos) << run.err;
    EXPECT_GT(std::stoi(run.err.substr(note + 22)), 95450);
    EXPECT_NEAR(Nu_Of(run), 4.549027, 1e-4 * 4.549027);
    // Loosely, sooner, but not inside a swing beyond 1e-3: its last report
    // more than 1e-3 from the mean of steps 500 000 to 1 000 000, 4.548919,
    // was that of step 73 950.
    Program_Run loose(&swinging);
    ASSERT_EQ(loose.Start("32\n32\n\n", "", CAVITY_BIN, "--settle 1e-3"), 0) << loose.err;
    const std::size_t at = loose.err.find("note: settled at step ");
    ASSERT_NE(at, std::string::npos) << loose.err;
    const int step = std::stoi(loose.err.substr(at + 22));
    EXPECT_GT(step, 73950);
    EXPECT_LT(step, std::stoi(run.err.substr(note + 22)));
    EXPECT_NEAR(Nu_Of(loose), 4.548919, 1e-3 * 4.548919);
}

TEST(RunEnd, SettleBelowTheFloatFloorEndsThereWithTheFloorStated) {
    // Water (Pr 5.83) at Ra 1e4 on 32 x 32 with a small Tau_T: single
    // precision makes Nu wander by some 5e-6 over tens of thousands of steps.
    // Asked for 1e-6, the run ends once the last half of it shows a wander
    // without a drift, and states that wander; the mean of its steps 500 000
    // to 1 000 000 is 2.3575107.
    const std::string water =
        Parameter_File("5.82878466557912", "10999.29509", "1", "0", "0.5", "0.5328");
    Program_Run run(&water);
    ASSERT_EQ(run.Start("32\n32\n\n", "", CAVITY_BIN, "--settle 1e-6"), 0) << run.err;
    const std::size_t note = run.err.find("note: settled at step ");
    ASSERT_NE(note, std::string::npos) << run.err;
    EXPECT_LT(std::stoi(run.err.substr(note + 22)), 200000);
    const std::string line = run.err.substr(note, run.err.find('\n', note) - note);
    EXPECT_NE(line.find("the float floor of this case, which holds Nu less closely than --settle "
                        "asks (--settle 1e-06)"),
              std::string::npos)
        << line;
    const std::size_t within = line.find("within an estimated ");
    ASSERT_NE(within, std::string::npos) << line;
    const double stated = std::stod(line.substr(within + 20));
    EXPECT_LT(stated, 3e-5);
    EXPECT_LE(std::fabs(Nu_Of(run) - 2.3575107), stated * 2.3575107);
}

TEST(CommandLine, HelpVersionAndUnknownOption) {
    Program_Run help;
    ASSERT_EQ(help.Start("", "", CAVITY_BIN, "--help"), 0);
    EXPECT_EQ(help.out.rfind("usage: cavity [--settle TOL [--settle-window STEPS]]", 0), 0u);
    EXPECT_NE(help.out.find("README"), std::string::npos); // the build's source tree
    EXPECT_NE(help.out.find("\n  12  Tau_T   relaxation time"), std::string::npos);
    EXPECT_EQ(help.err, "");

    Program_Run version;
    ASSERT_EQ(version.Start("", "", CAVITY_BIN, "--version"), 0);
    EXPECT_EQ(version.out.rfind("cavity ", 0), 0u);
    EXPECT_EQ(Count(version.out, "\n"), 1);
    // A bounce-back scheme has no fluid between walls one row apart.
    const std::string strip = Parameter_File("0.71", "1e4", "1", "0", "0", "0.8");
    Program_Run one_row(&strip);
    EXPECT_EQ(one_row.Start("6\n1\n\n", "", CAVITY_BIN, "--scheme bounce-back"), 1);
    EXPECT_EQ(one_row.err, "input error: m (console line 2): 1 is out of range with --scheme "
                           "bounce-back, whose insulated walls are the rows 0 and m: a grid one "
                           "row high has no fluid between them; m must be from 2 to 1290\n");
    EXPECT_FALSE(one_row.Has("Nu.dat"));
    Program_Run labelled; // a scheme other than the original on a line of its own
    ASSERT_EQ(labelled.Start("", "", CAVITY_BIN, "--scheme bounce-back --version"), 0);
    EXPECT_EQ(labelled.out, version.out + "scheme: bounce-back\n");

    // Refused before the dialogue: nothing on standard output, no file.
    const std::string params = Parameter_File("0.71", "1e4", "1", "0", "0", "0.8");
    Program_Run bad(&params);
    EXPECT_EQ(bad.Start("4\n4\n\n", "", CAVITY_BIN, "--setle 1e-5"), 1);
    EXPECT_EQ(bad.err, "usage error: unknown option \"--setle\"; usage: cavity [--settle TOL "
                       "[--settle-window STEPS]] [--accelerate] [--threads N] [--checkpoint FILE "
                       "[--checkpoint-every STEPS]] [--start-from FILE] [--files-every STEPS] "
                       "[--scheme NAME] [--no-residual-stop] [--help] [--version]\n");
    EXPECT_EQ(bad.out, "");
    EXPECT_EQ(bad.Stray_Files(), 0);
}

// --version names the kernels it runs and the sets the build holds; a set
// forced through CAVITY_KERNELS that the build lacks, or the processor
// cannot run, is refused before the dialogue, in one line.
TEST(CommandLine, KernelsNamedAndAForcedSetThatCannotRunRefused) {
    std::string built;
    std::vector<std::string> refused = {"avx1024"};
    for (Kernel_Set set : Kernel_Sets_Built())
        built += (built.empty() ? "" : ", ") + std::string(Kernel_Set_Name(set));
    const Kernel_Set narrowest = Kernel_Sets_Built().front();
    Program_Run version;
    ASSERT_EQ(version.Start("", std::string("CAVITY_KERNELS=") + Kernel_Set_Name(narrowest),
                            CAVITY_BIN, "--version"),
              0);
    EXPECT_EQ(version.out.substr(version.out.find(" (")),
              std::string(" (") + Kernel_Set_Name(narrowest) + " kernels of " + built + ")\n");

    const std::string params = Parameter_File("0.71", "1e4", "1", "0", "0", "0.8");
    for (Kernel_Set set : Kernel_Sets_Built())
        if (!Processor_Runs(set))
            refused.push_back(Kernel_Set_Name(set));
    for (const std::string& forced : refused) {
        Program_Run bad(&params);
        EXPECT_EQ(bad.Start("4\n4\n\n", "CAVITY_KERNELS=" + forced), 1);
        EXPECT_EQ(bad.err.rfind("usage error: CAVITY_KERNELS=" + forced + ": ", 0), 0u) << bad.err;
        EXPECT_EQ(Count(bad.err, "\n"), 1);
        EXPECT_EQ(bad.out, "");
        EXPECT_EQ(bad.Stray_Files(), 0);
    }
}

// The run of `dir` with standard error on a pseudo-terminal (and standard
// output too, if `shared`); returns all the terminal received.
std::string Run_On_Terminal(const program::fs::path& dir, bool shared, int& status) {
    int master = -1, slave = -1;
    struct winsize size {};
    size.ws_col = 200;
    size.ws_row = 50;
    if (::openpty(&master, &slave, nullptr, nullptr, &size) != 0)
        return "openpty failed";
    struct termios raw {};
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw); // the bytes as written, no line-end translation
    ::tcsetattr(slave, TCSANOW, &raw);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(dir.c_str()) != 0)
            ::_exit(127);
        const int in = ::open("console.in", O_RDONLY);
        const int out = shared ? slave : ::open("console.out", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(slave, 2);
        ::close(master);
        ::setenv("OMP_NUM_THREADS", "1", 1); // one thread, as the plain run has
        ::execl(CAVITY_BIN, CAVITY_BIN, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(slave);
    std::string seen;
    char buf[4096];
    for (;;) {
        const ssize_t got = ::read(master, buf, sizeof buf);
        if (got > 0)
            seen.append(buf, std::size_t(got));
        else if (got < 0 && errno == EINTR)
            continue;
        else
            break; // EIO once the program has closed the terminal
    }
    ::close(master);
    int rc = 0;
    ::waitpid(pid, &rc, 0);
    status = WIFEXITED(rc) ? WEXITSTATUS(rc) : 128 + WTERMSIG(rc);
    return seen;
}

// What the terminal shows of standard output: the transcript without the
// status line's drawing and erasing. Standard output never holds an escape,
// and its carriage returns always come right before a line feed.
std::string Without_Status(const std::string& t, int& drawn) {
    std::string out;
    drawn = 0;
    for (std::size_t p = 0; p < t.size();) {
        if (t.compare(p, 7, "\r\x1b[K\x1b[A") == 0) {
            p += 7;
        } else if (t.compare(p, 4, "\r\x1b[K") == 0) {
            p += 4;
        } else if ((t.compare(p, 6, "\rstep ") == 0) ||
                   (t.compare(p, 7, "\n\rstep ") == 0 && p > 0 && t[p - 1] != '\r')) {
            const std::size_t end = t.find("\x1b[K", p);
            if (end == std::string::npos)
                return out + "<status line not ended>";
            p = end + 3;
            ++drawn;
        } else {
            out += t[p++];
        }
    }
    return out;
}

// Long enough for the line to be drawn (it waits a quarter of a second),
// without warnings or notes.
const std::string Second_Long = Parameter_File("0.71", "1e3", "1", "0", "0", "0.8");

TEST(StatusLine, OnATerminalOnlyAndStandardOutputKeepsEveryByte) {
    Program_Run plain(&Second_Long);
    ASSERT_EQ(plain.Start("48\n48\n\n", "OMP_NUM_THREADS=1"), 0) << plain.err;
    EXPECT_EQ(program::Without_Nu_Note(plain.err), ""); // not a terminal: no status line

    Program_Run own(&Second_Long);
    program::Write_File(own.dir / "console.in", "48\n48\n\n");
    int status = -1;
    const std::string seen = Run_On_Terminal(own.dir, false, status);
    ASSERT_EQ(status, 0) << seen;
    EXPECT_EQ(own.File("console.out"), plain.out);
    int drawn = 0;
    EXPECT_EQ(program::Without_Nu_Note(Without_Status(seen, drawn)), "");
    EXPECT_GE(drawn, 1) << seen;
    EXPECT_NE(seen.find(" nodes/s  1 thread  residuals T "), std::string::npos) << seen;
    const std::size_t note = seen.rfind("note: wall-corrected mean Nu");
    ASSERT_GE(note, 4u) << seen;
    EXPECT_EQ(seen.substr(note - 4, 4), "\r\x1b[K"); // taken away before the closing note
    for (const char* f : program::Result_Files)
        EXPECT_EQ(own.File(f), plain.File(f)) << f;

    Program_Run shared(&Second_Long);
    program::Write_File(shared.dir / "console.in", "48\n48\n\n");
    const std::string both = Run_On_Terminal(shared.dir, true, status);
    ASSERT_EQ(status, 0) << both;
    EXPECT_EQ(program::Without_Nu_Note(Without_Status(both, drawn)), plain.out);
    EXPECT_GE(drawn, 1);
}

} // namespace
