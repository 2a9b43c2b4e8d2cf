// --checkpoint FILE: a run stopped at any moment, even while it replaces its
// checkpoint, and started again goes on to the very bytes of the run that
// was never stopped; a file that is not this run's checkpoint is refused.
// --start-from FILE: another run's fields as the start.
#include "restart/checksum.hpp"
#include "support/program_run.hpp"
#include "support/sanitizer.hpp"
#include "support/spawn.hpp"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/user.h>
#include <thread>
#include <unistd.h>

using program::Program_Run;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const std::string Golden = CAVITY_GOLDEN_DIR "/side_heated_12x8/";

std::string Golden_Parameters() {
    return program::Read_File(Golden + "Input_Parameters.Input");
}

// The step a checkpoint was written at (0 where there is none).
int Checkpoint_Step(const fs::path& file) {
    std::string bytes = program::Read_File(file);
    std::int32_t step = 0;
    if (bytes.size() >= 52)
        std::memcpy(&step, bytes.data() + 48, 4);
    return step;
}

// Whether a file is one whole checkpoint: its size and its checksum.
bool Whole_Checkpoint(const fs::path& file) {
    std::string b = program::Read_File(file);
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
    if (b.size() < 132)
        return false;
    std::memcpy(&size, b.data() + 16, 8);
    std::memcpy(&crc, b.data() + b.size() - 4, 4);
    return size == b.size() && Crc32(0, b.data(), b.size() - 4) == crc;
}

// The console of a run that went on from `step`: that of the run never
// stopped without its reports up to that step (three lines each).
// Standard error without the set-up's warnings (the recorded case warns of
// its reference velocity), for the lines this option adds.
std::string Without_Warnings(std::string err) {
    while (err.rfind("warning: ", 0) == 0)
        err.erase(0, err.find('\n') + 1);
    return err;
}

std::string Without_Reports_Until(const std::string& out, int step) {
    std::vector<std::string> lines;
    for (std::size_t at = 0;;) {
        std::size_t end = out.find("\r\n", at);
        lines.push_back(out.substr(at, end == std::string::npos ? end : end - at));
        if (end == std::string::npos)
            break;
        at = end + 2;
    }
    auto first = std::find_if(lines.begin(), lines.end(),
                              [](const std::string& l) { return l.rfind("Step==", 0) == 0; });
    if (step > 0)
        lines.erase(first, first + 3 * (step / 50));
    std::string joined;
    for (std::size_t k = 0; k < lines.size(); ++k)
        joined += (k ? "\r\n" : "") + lines[k];
    return joined;
}

void Expect_Same_Result_Files(const Program_Run& a, const Program_Run& b) {
    for (const char* f : program::Result_Files)
        EXPECT_EQ(a.File(f), b.File(f)) << f;
}

TEST(Checkpoint, GoingOnFromTheKeptFileGivesTheBytesOfTheRunNeverStopped) {
    const std::string params = Golden_Parameters(), answers = "12\n8\n\n";
    Program_Run plain(&params);
    ASSERT_EQ(plain.Start(answers), 0) << plain.err;

    // The option changes nothing a run writes; the straightforward program
    // writes the checkpoint, the fast one goes on from it.
    Program_Run run(&params);
    ASSERT_EQ(run.Start(answers, "", CAVITY_REFERENCE_BIN, "--checkpoint run.ckpt"), 0) << run.err;
    EXPECT_EQ(run.out, plain.out);
    EXPECT_EQ(run.err, plain.err);
    Expect_Same_Result_Files(plain, run);
    EXPECT_FALSE(run.Has("run.ckpt.tmp"));
    const std::string kept = run.File("run.ckpt");
    // The run's end, by the residual stop between two reports; the first
    // report has one too.
    ASSERT_EQ(Checkpoint_Step(run.dir / "run.ckpt"), 379);
    EXPECT_EQ(Checkpoint_Step(run.dir / "run.ckpt.prev") % 50, 0);

    // Started again, it ends there at once with the bytes of its end.
    ASSERT_EQ(run.Start(answers, "", CAVITY_BIN, "--checkpoint run.ckpt"), 0) << run.err;
    EXPECT_EQ(run.out, Without_Reports_Until(plain.out, 379));
    EXPECT_EQ(program::Without_Nu_Note(Without_Warnings(run.err)),
              "note: --checkpoint run.ckpt: going on from step 379\n");
    Expect_Same_Result_Files(plain, run);
    EXPECT_EQ(run.File("run.ckpt"), kept);
    EXPECT_FALSE(run.Has("run.ckpt.tmp"));

    // At the first report at or after each multiple of 120 steps, and at
    // the end whatever the interval.
    Program_Run every(&params);
    ASSERT_EQ(every.Start(answers, "", CAVITY_BIN, "--checkpoint e.ckpt --checkpoint-every 120"),
              0);
    EXPECT_EQ(every.out, plain.out);
    EXPECT_EQ(Checkpoint_Step(every.dir / "e.ckpt.prev"), 250);
    EXPECT_EQ(every.File("e.ckpt"), kept);
    Program_Run rare(&params);
    ASSERT_EQ(rare.Start(answers, "", CAVITY_BIN, "--checkpoint e.ckpt --checkpoint-every 5000"),
              0);
    EXPECT_EQ(rare.File("e.ckpt"), kept);
}

TEST(Checkpoint, StartedFromACheckpointOfTheSameCaseItMakesTheSameStepsFromThere) {
    const std::string params = Golden_Parameters(), answers = "12\n8\n\n";
    Program_Run first(&params);
    ASSERT_EQ(first.Start(answers, "", CAVITY_BIN, "--checkpoint run.ckpt --checkpoint-every 350"),
              0)
        << first.err;
    // The old copies start as the fields, so the first residuals are those
    // the first run had one step after its checkpoint at step 350 (the one
    // before its end): the run stops where the first one stopped, before a
    // report of its own.
    Program_Run next(&params);
    fs::copy_file(first.dir / "run.ckpt.prev", next.dir / "from.ckpt");
    ASSERT_EQ(next.Start(answers, "", CAVITY_BIN, "--start-from from.ckpt"), 0) << next.err;
    EXPECT_EQ(next.out, Without_Reports_Until(first.out, 350));
    EXPECT_EQ(program::Without_Nu_Note(Without_Warnings(next.err)),
              "note: --start-from from.ckpt: starting from the fields of its step 350 "
              "(Pr = 0.71, Ra = 1000)\n");
    Expect_Same_Result_Files(first, next);
}

int Reports(const std::string& out);

// From a coarser grid's checkpoint the fields are interpolated: the run
// reaches the steady state of a run from rest on its grid, sooner.
TEST(Checkpoint, StartedFromACoarserGridItReachesTheSteadyStateOfARunFromRest) {
    const std::string params = Golden_Parameters(), answers = "24\n16\n\n";
    Program_Run coarse(&params);
    ASSERT_EQ(coarse.Start("12\n8\n\n", "", CAVITY_BIN, "--checkpoint c.ckpt"), 0);
    Program_Run rest(&params), next(&params);
    ASSERT_EQ(rest.Start(answers), 0);
    fs::copy_file(coarse.dir / "c.ckpt", next.dir / "c.ckpt");
    ASSERT_EQ(next.Start(answers, "", CAVITY_BIN, "--start-from c.ckpt"), 0) << next.err;
    EXPECT_NE(Without_Warnings(next.err).find(
                  "note: --start-from c.ckpt: starting from the fields of its step 379 (Pr "
                  "= 0.71, Ra = 1000), interpolated from its 12 x 8 grid onto 24 x 16, its "
                  "velocity times 0.5 (the ratio of the reference velocities) and at "
                  "equilibrium\n"),
              std::string::npos)
        << next.err;
    EXPECT_NEAR(std::stod(next.File("Nu.dat")), std::stod(rest.File("Nu.dat")), 1e-5);
    EXPECT_LT(Reports(next.out), Reports(rest.out));
}

// A file that is not this run's checkpoint is refused before anything is
// written: the result files of an earlier run and the file stay as they were.
TEST(Checkpoint, RefusesWhatIsNotThisRunsCheckpointAndWritesNothing) {
    const std::string params = Golden_Parameters();
    Program_Run source(&params);
    ASSERT_EQ(source.Start("12\n8\n\n", "", CAVITY_BIN, "--checkpoint run.ckpt"), 0);
    const std::string good = source.File("run.ckpt");
    ASSERT_EQ(good.size(), 11892u);
    Program_Run bounced(&params); // the same run under another scheme
    ASSERT_EQ(
        bounced.Start("12\n8\n\n", "", CAVITY_BIN, "--scheme bounce-back --checkpoint run.ckpt"),
        0);
    const std::string other_scheme = bounced.File("run.ckpt");
    EXPECT_EQ(other_scheme.substr(8, 4), std::string("\x02\0\0\0", 4)); // version 2
    EXPECT_EQ(other_scheme.substr(124, 4), std::string("\x01\0\0\0", 4));
    EXPECT_EQ(good.substr(124, 4), std::string(4, '\0')); // version 1 as it always was
    const std::string afresh = "; to start afresh, name another file or remove it\n";
    auto with = [&](std::size_t at, std::string bytes) {
        std::string b = good;
        return b.replace(at, bytes.size(), bytes);
    };
    struct Case {
        const char* what;
        std::string file, answers, parameters, args, message;
        bool tmp_beside = false;
    } cases[] = {
        {"grid", good, "10\n8\n\n", params, "--checkpoint run.ckpt",
         "checkpoint error: --checkpoint run.ckpt was written for a 12 x 8 grid, not 10 x 8; to go "
         "on with it, answer 12 and 8" +
             afresh},
        {"parameters", good, "12\n8\n\n",
         program::Parameter_File("0.71", "2000", "1", "0", "0", "1.5"), "--checkpoint run.ckpt",
         "checkpoint error: --checkpoint run.ckpt was written for other parameters: Ra = 1000 "
         "there, 2000 in Input_Parameters.Input; to go on with it, put those values back" +
             afresh},
        {"damage", with(5000, "\x01"), "12\n8\n\n", params, "--checkpoint run.ckpt",
         "checkpoint error: --checkpoint run.ckpt is damaged: its checksum does not match its "
         "contents" +
             afresh},
        {"damage, the one before beside it", with(5000, "\x01"), "12\n8\n\n", params,
         "--checkpoint run.ckpt",
         "checkpoint error: --checkpoint run.ckpt is damaged: its checksum does not match its "
         "contents; to start afresh, name another file or remove it (run.ckpt.tmp may hold the "
         "checkpoint before it: moved to run.ckpt, the run goes on from there if it is whole)\n",
         true},
        {"truncation", good.substr(0, 5000), "12\n8\n\n", params, "--checkpoint run.ckpt",
         "checkpoint error: --checkpoint run.ckpt is cut short: it has 5000 of its 11892 bytes" +
             afresh},
        {"size", good + "x", "12\n8\n\n", params, "--checkpoint run.ckpt",
         "checkpoint error: --checkpoint run.ckpt has the wrong size: 11893 bytes, where its "
         "header gives 11892" +
             afresh},
        {"version", with(8, std::string("\x03\0\0\0", 4)), "12\n8\n\n", params,
         "--checkpoint run.ckpt",
         "checkpoint error: --checkpoint run.ckpt has format version 3 (written by cavity " +
             std::string(good.data() + 24) + "); this cavity (" + std::string(good.data() + 24) +
             ") reads versions 1 and 2; go on with the program that wrote it, or, to start "
             "afresh, name another file or remove it\n"},
        {"scheme", other_scheme, "12\n8\n\n", params, "--checkpoint run.ckpt",
         "checkpoint error: --checkpoint run.ckpt was written under the scheme bounce-back, not "
         "copy; to go on with it, give --scheme bounce-back" +
             afresh},
        {"scheme, the other way", good, "12\n8\n\n", params,
         "--scheme bounce-back-trt --checkpoint run.ckpt",
         "checkpoint error: --checkpoint run.ckpt was written under the scheme copy, not "
         "bounce-back-trt; to go on with it, give --scheme copy" +
             afresh},
        {"not a checkpoint", "Step== 1\r\n", "12\n8\n\n", params, "--checkpoint run.ckpt",
         "checkpoint error: --checkpoint run.ckpt is not a checkpoint (it does not begin with "
         "CAVITYCK); name another file (this one is left as it is)\n"},
        {"a run from rest, now from a file", good, "12\n8\n\n", params,
         "--checkpoint run.ckpt --start-from other.ckpt",
         "checkpoint error: --checkpoint run.ckpt was written by a run that started from rest, "
         "not from this --start-from" +
             afresh},
        {"no file to start from", "", "12\n8\n\n", params, "--start-from none.ckpt",
         "input error: cannot open --start-from none.ckpt: No such file or directory\n"},
        {"a result file", "", "12\n8\n\n", params, "--checkpoint ./Nu.dat",
         "checkpoint error: --checkpoint ./Nu.dat is the run's own Nu.dat; name another file\n"},
        {"no such folder", "", "12\n8\n\n", params, "--checkpoint none/run.ckpt",
         "output error: cannot create none/run.ckpt: No such file or directory\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Program_Run run(&c.parameters);
        if (!c.file.empty())
            program::Write_File(run.dir / "run.ckpt", c.file);
        program::Write_File(run.dir / "other.ckpt", good);
        if (c.tmp_beside)
            program::Write_File(run.dir / "run.ckpt.tmp", good);
        program::Write_File(run.dir / "Nu.dat", "earlier");
        EXPECT_EQ(run.Start(c.answers, "", CAVITY_BIN, c.args), 1);
        EXPECT_EQ(Without_Warnings(run.err), c.message);
        EXPECT_EQ(run.File("Nu.dat"), "earlier");
        EXPECT_FALSE(run.Has("Result.dat"));
        if (!c.file.empty()) {
            EXPECT_EQ(run.File("run.ckpt"), c.file);
        }
        EXPECT_EQ(run.Has("run.ckpt.tmp"), c.tmp_beside);
    }
}

// The kills: a run with --settle (so that its report history counts too) of
// some sixty reports, killed (mostly SIGKILL, some SIGTERM) one to three
// times at random moments, blindly or just after it has begun to replace its
// checkpoint, then left to end; checkpoints at every report or every 700
// steps, and at the end.
constexpr int Kill_N = 80; // a checkpoint of 656 kB, written in a fraction of a millisecond
const std::string Kill_Parameters = program::Parameter_File("0.71", "1e4", "1", "0", "0", "0.8");
const std::vector<std::string> Kill_Args[] = {
    {"--checkpoint", "run.ckpt", "--checkpoint-every", "50", "--settle", "1e-2", "--settle-window",
     "1000"},
    {"--checkpoint", "run.ckpt", "--checkpoint-every", "700", "--settle", "1e-2", "--settle-window",
     "1000"}};

std::string Joined(const std::vector<std::string>& args) {
    std::string s;
    for (const std::string& a : args)
        s += a + " ";
    return s;
}

// A started run, killed or left to end.
struct Started {
    pid_t pid;
    bool ended = false;
    int status = 0;
    bool Running() {
        if (!ended && ::waitpid(pid, &status, WNOHANG) == pid)
            ended = true;
        return !ended;
    }
    int Wait() {
        if (!ended)
            status = program::Wait_Program(pid).status;
        ended = true;
        return status;
    }
    ~Started() {
        if (!ended) {
            ::kill(pid, SIGKILL);
            Wait();
        }
    }
};

// The path a system call of the run names, from the run's memory.
std::string Path_Argument(pid_t pid, unsigned long long address) {
    char path[256] = {};
    int mem = ::open(("/proc/" + std::to_string(pid) + "/mem").c_str(), O_RDONLY | O_CLOEXEC);
    if (mem >= 0) {
        (void)!::pread(mem, path, sizeof path - 1, off_t(address));
        ::close(mem);
    }
    return path;
}

std::string Fd_Path(pid_t pid, unsigned long long fd) {
    char path[4096] = {};
    std::string link = "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd);
    (void)!::readlink(link.c_str(), path, sizeof path - 1);
    return path;
}

bool Ends_With(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Follows the run's system calls and kills it as it is about to make its
// `nth` write into the checkpoint's temporary file, or the rename of that
// file, after the `checkpoint`-th time it opened it: inside the replacement
// whatever the load of the machine. False if the run ended first.
bool Kill_Inside_Replacement(Started& run, int checkpoint, int nth) {
    const pid_t pid = run.pid;
    if (::ptrace(PTRACE_SEIZE, pid, 0, PTRACE_O_TRACESYSGOOD) != 0 ||
        ::ptrace(PTRACE_INTERRUPT, pid, 0, 0) != 0)
        return false;
    int opened = 0, writes = 0;
    for (;;) {
        int st = 0;
        if (::waitpid(pid, &st, __WALL) < 0 && errno == EINTR)
            continue;
        if (WIFEXITED(st) || WIFSIGNALED(st)) {
            run.ended = true;
            run.status = st;
            return false;
        }
        int pass = 0; // the signal to deliver on resuming
        if (WSTOPSIG(st) == (SIGTRAP | 0x80)) {
            user_regs_struct r{};
            ::ptrace(PTRACE_GETREGS, pid, 0, &r);
            const bool entry = (long long)r.rax == -ENOSYS;
            const bool open =
                r.orig_rax == SYS_openat && Ends_With(Path_Argument(pid, r.rsi), "run.ckpt.tmp");
            const bool write =
                (r.orig_rax == SYS_pwrite64 && Ends_With(Fd_Path(pid, r.rdi), "/run.ckpt.tmp")) ||
                (r.orig_rax == SYS_rename &&
                 Ends_With(Path_Argument(pid, r.rdi), "run.ckpt.tmp")) ||
                (r.orig_rax == SYS_renameat2 &&
                 Ends_With(Path_Argument(pid, r.rsi), "run.ckpt.tmp"));
            opened += entry && open;
            writes += entry && write && opened >= checkpoint;
            if (writes == nth) {
                ::kill(pid, SIGKILL);
                run.Wait();
                return true;
            }
        } else if (st >> 16 == 0) {
            pass = WSTOPSIG(st); // a signal on its way to the run
        }
        ::ptrace(PTRACE_SYSCALL, pid, 0, pass);
    }
}

int Reports(const std::string& out) {
    int count = 0;
    for (std::size_t at = out.find("Step=="); at != std::string::npos;
         at = out.find("Step==", at + 1))
        ++count;
    return count;
}

// The checkpoints a run writes after step `from` up to its last report
// `last` (which ends it by --settle and has one whatever the interval).
int Checkpoints_After(int from, int last, int every) {
    int count = 0;
    for (int s = from + 50; s <= last; s += 50)
        count += s == last || s / every > (s - 50) / every;
    return count;
}

TEST(Checkpoint, KilledAtRandomMomentsItGoesOnToTheBytesOfTheRunNeverStopped) {
    unsigned seed = std::random_device{}();
    if (const char* s = std::getenv("CAVITY_KILL_SEED"))
        seed = unsigned(std::stoul(s));
    std::mt19937 rng(seed);
    SCOPED_TRACE("CAVITY_KILL_SEED=" + std::to_string(seed));
    const std::string answers = std::to_string(Kill_N) + "\n" + std::to_string(Kill_N) + "\n\n";

    // The runs never stopped, and how long one takes on this machine now.
    std::vector<std::unique_ptr<Program_Run>> whole;
    Clock::duration horizon{};
    for (const auto& args : Kill_Args) {
        whole.push_back(std::make_unique<Program_Run>(&Kill_Parameters));
        auto start = Clock::now();
        ASSERT_EQ(whole.back()->Start(answers, "", CAVITY_BIN, Joined(args)), 0);
        horizon = Clock::now() - start;
        ASSERT_NE(whole.back()->err.find("note: settled at step"), std::string::npos);
    }

    const int chains = program::Address_Sanitized ? 6 : 16;
    const int last_report = 50 * Reports(whole[0]->out);
    int kills = 0, aimed = 0, mid_write = 0;
    for (int chain = 0; chain < chains; ++chain) {
        SCOPED_TRACE("chain " + std::to_string(chain));
        const int variant = chain % 2;
        const Program_Run& done = *whole[variant];
        Program_Run run(&Kill_Parameters);
        program::Write_File(run.dir / "console.in", answers);
        const int chain_kills = 1 + int(rng() % 3);
        for (int k = 0;; ++k) {
            const int from = Checkpoint_Step(run.dir / "run.ckpt");
            const bool tmp_before = run.Has("run.ckpt.tmp");
            Started started{program::Spawn_Program(run.dir, Kill_Args[variant])};
            const int due = Checkpoints_After(from, last_report, variant ? 700 : 50);
            if (k < chain_kills && due > 0 && rng() % 2) {
                // Aimed: inside a replacement; the checkpoint before is whole.
                ASSERT_TRUE(Kill_Inside_Replacement(started, 1 + int(rng() % unsigned(due)),
                                                    1 + int(rng() % 10)));
                ASSERT_TRUE(WIFSIGNALED(started.status) && WTERMSIG(started.status) == SIGKILL);
                ++kills;
                ++aimed;
                ASSERT_TRUE(from == 0 || Whole_Checkpoint(run.dir / "run.ckpt"));
                mid_write += !Whole_Checkpoint(run.dir / "run.ckpt.tmp");
                continue;
            }
            if (k < chain_kills) {
                // Blind: anywhere, start-up included.
                std::uniform_int_distribution<long long> delay(0, horizon.count());
                std::this_thread::sleep_for(Clock::duration(delay(rng)));
                if (started.Running()) {
                    const int sig = rng() % 4 ? SIGKILL : SIGTERM;
                    ::kill(started.pid, sig);
                    const int status = started.Wait();
                    // A run in its last moments (its memory being given back)
                    // ends as if the signal had come too late.
                    const bool ended = WIFEXITED(status) && WEXITSTATUS(status) == 0;
                    ASSERT_TRUE(ended || (WIFSIGNALED(status) && WTERMSIG(status) == sig))
                        << status;
                    kills += !ended;
                    // One left by an earlier kill is the run's to remove only
                    // once it has read its checkpoint.
                    if (sig == SIGTERM && !ended && !tmp_before) {
                        EXPECT_FALSE(run.Has("run.ckpt.tmp"))
                            << "SIGTERM left the checkpoint's temporary file";
                    }
                    if (!ended)
                        continue;
                }
            }
            // The last start, left to end.
            ASSERT_EQ(WEXITSTATUS(started.Wait()), 0) << run.File("console.err");
            EXPECT_EQ(run.File("console.out"), Without_Reports_Until(done.out, from));
            // The set-up's warnings, then the note of the start that goes on.
            std::string err = done.err;
            if (from) {
                std::size_t after_warnings = 0;
                while (err.compare(after_warnings, 9, "warning: ") == 0)
                    after_warnings = err.find('\n', after_warnings) + 1;
                err.insert(after_warnings, "note: --checkpoint run.ckpt: going on from step " +
                                               std::to_string(from) + "\n");
            }
            EXPECT_EQ(program::Without_Threads_Note(run.File("console.err")),
                      program::Without_Threads_Note(err));
            Expect_Same_Result_Files(done, run);
            EXPECT_EQ(run.File("run.ckpt"), done.File("run.ckpt"));
            EXPECT_FALSE(run.Has("run.ckpt.tmp"));
            break;
        }
    }
    EXPECT_GT(aimed, 0);
    std::printf("%d kills, %d inside the replacement of the checkpoint (%d with its temporary "
                "file part written)\n",
                kills, aimed, mid_write);
}

namespace crash {

// The crash states of a checkpoint's replacement, built as crash-consistency
// checkers build them: the run's file operations recorded with strace, then
// replayed into a model of a file system where data written since the last
// fsync of its file may be lost or torn, and names changed since the last
// fsync of their folder may be lost (the later ones first). Every state the
// model allows must leave a checkpoint the run goes on from, byte for byte.

// The bytes of a quoted strace string in -xx form ("\x43\x41...").
std::string Unquote(const std::string& line, std::size_t& at) {
    std::string bytes;
    at = line.find('"', at) + 1;
    for (; line[at] != '"'; at += 4)
        bytes += char(std::stoi(line.substr(at + 2, 2), nullptr, 16));
    ++at;
    return bytes;
}

struct Op {
    std::string call, a, b, data; // names, or the data written
    long long fd = -1, offset = 0, result = 0;
};

// The calls of one process, from strace -xx -s N output.
std::vector<Op> Read_Trace(const std::string& text) {
    std::vector<Op> ops;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t open = line.find('(');
        if (open == std::string::npos || line.find(" = ") == std::string::npos)
            continue;
        Op op;
        op.call = line.substr(0, open);
        op.result = std::atoll(line.c_str() + line.rfind(" = ") + 3);
        std::size_t at = open;
        if (op.call == "pwrite64" || op.call == "write" || op.call == "fsync" ||
            op.call == "close") {
            op.fd = std::atoll(line.c_str() + open + 1);
            if (op.call == "pwrite64") {
                op.data = Unquote(line, at);
                op.offset = std::atoll(line.c_str() + line.find(", ", line.find(", ", at) + 2) + 2);
            }
        } else if (line.find('"') != std::string::npos) {
            op.a = Unquote(line, at);
            if (line.find('"', at) < line.rfind(" = "))
                op.b = Unquote(line, at);
            if (op.call == "openat")
                op.data = line.substr(at, line.rfind(" = ") - at); // the flags
        }
        ops.push_back(op);
    }
    return ops;
}

struct Inode {
    std::string durable, now;
    std::vector<std::pair<long long, std::string>> pending; // writes since its fsync
};

struct Name_Op {
    std::string call, a, b;
    int inode = -1;
};
using Names = std::map<std::string, int>;

void Apply(Names& names, const Name_Op& op) {
    if (op.call == "create")
        names[op.a] = op.inode;
    else if (op.call == "unlink")
        names.erase(op.a);
    else if (op.call == "link")
        names[op.b] = names.at(op.a);
    else if (op.call == "rename") {
        const int i = names.at(op.a);
        names.erase(op.a);
        names[op.b] = i;
    } else if (op.call == "exchange")
        std::swap(names.at(op.a), names.at(op.b));
}

// What the checkpoint's files hold on the disk after a crash: names
// changed since the folder's fsync lost from the `lost`-th on; data written
// since a file's fsync kept whole, lost, or torn (its last write half made).
std::map<std::string, std::string> State(const Names& durable, const std::vector<Name_Op>& since,
                                         std::size_t lost, const std::vector<Inode>& inodes,
                                         int data) {
    Names names = durable;
    for (std::size_t k = 0; k < lost; ++k)
        Apply(names, since[k]);
    std::map<std::string, std::string> files;
    for (const auto& [name, i] : names) {
        const Inode& node = inodes[std::size_t(i)];
        std::string bytes = data == 0 ? node.now : node.durable;
        if (data == 2)
            for (std::size_t w = 0; w < node.pending.size(); ++w) {
                auto [at, piece] = node.pending[w];
                if (w + 1 == node.pending.size())
                    piece.resize(piece.size() / 2);
                if (bytes.size() < std::size_t(at) + piece.size())
                    bytes.resize(std::size_t(at) + piece.size(), '\0');
                bytes.replace(std::size_t(at), piece.size(), piece);
            }
        files[name] = bytes;
    }
    return files;
}

// Every distinct state of the checkpoint's files a crash during the run
// may leave, from the recorded calls.
std::set<std::map<std::string, std::string>> Crash_States(const std::vector<Op>& ops) {
    std::vector<Inode> inodes;
    std::map<long long, int> open_files; // fd -> inode; -2 for the folder
    Names durable, names;
    std::vector<Name_Op> since;
    std::set<std::map<std::string, std::string>> states;
    auto ours = [](const std::string& name) { return name.rfind("run.ckpt", 0) == 0; };
    auto name_op = [&](Name_Op op) {
        Apply(names, op);
        since.push_back(op);
    };
    for (const Op& op : ops) {
        if (op.call == "openat" && op.a == "." && op.result >= 0) {
            open_files[op.result] = -2;
        } else if (op.call == "openat" && ours(op.a) && op.result >= 0) {
            if (op.data.find("O_CREAT") != std::string::npos && !names.count(op.a)) {
                inodes.push_back({});
                name_op({"create", op.a, "", int(inodes.size()) - 1});
            }
            const int i = names.at(op.a);
            if (op.data.find("O_TRUNC") != std::string::npos) {
                inodes[std::size_t(i)].now.clear();
                inodes[std::size_t(i)].pending.push_back({0, ""});
            }
            open_files[op.result] = i;
        } else if (op.call == "pwrite64" && open_files.count(op.fd) && open_files[op.fd] >= 0) {
            Inode& node = inodes[std::size_t(open_files[op.fd])];
            if (node.now.size() < std::size_t(op.offset) + op.data.size())
                node.now.resize(std::size_t(op.offset) + op.data.size(), '\0');
            node.now.replace(std::size_t(op.offset), op.data.size(), op.data);
            node.pending.push_back({op.offset, op.data});
        } else if (op.call == "fsync" && open_files.count(op.fd)) {
            if (open_files[op.fd] == -2) {
                durable = names;
                since.clear();
            } else {
                Inode& node = inodes[std::size_t(open_files[op.fd])];
                node.durable = node.now;
                node.pending.clear();
            }
        } else if (op.call == "close") {
            open_files.erase(op.fd);
        } else if (op.result == 0 && ours(op.a)) {
            if (op.call == "unlink")
                name_op({"unlink", op.a, ""});
            else if (op.call == "link")
                name_op({"link", op.a, op.b});
            else if (op.call == "rename")
                name_op({"rename", op.a, op.b});
            else if (op.call == "renameat2")
                name_op({"exchange", op.a, op.b});
        } else {
            continue;
        }
        for (std::size_t lost = 0; lost <= since.size(); ++lost)
            for (int data = 0; data < 3; ++data)
                states.insert(State(durable, since, lost, inodes, data));
    }
    return states;
}

// The step a run went on from, by its note (0 from rest).
int Went_On_From(const std::string& err) {
    const std::size_t at = err.find(": going on from step ");
    return at == std::string::npos ? 0 : std::atoi(err.c_str() + at + 21);
}

TEST(Checkpoint, EveryStateACrashMayLeaveGoesOnToTheBytesOfTheRunNeverStopped) {
    const std::string params = Golden_Parameters(), answers = "12\n8\n\n";
    const std::string args = "--checkpoint run.ckpt --checkpoint-every 100";
    Program_Run done(&params);
    // The leak checker of an instrumented build does not run under ptrace.
    ASSERT_EQ(
        done.Start(answers,
                   "ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 strace -o trace -xx "
                   "-s 1000000 "
                   "-e trace=openat,pwrite64,fsync,close,rename,renameat2,link,unlink",
                   CAVITY_BIN, args),
        0)
        << done.err;
    const auto states = Crash_States(Read_Trace(done.File("trace")));
    ASSERT_GT(states.size(), 20u); // four replacements, the first onto no file
    std::set<int> went_on_from;
    for (const auto& files : states) {
        Program_Run run(&params);
        std::string listing;
        for (const auto& [name, bytes] : files) {
            program::Write_File(run.dir / name, bytes);
            listing += name + " (" + std::to_string(bytes.size()) + " bytes) ";
        }
        SCOPED_TRACE(listing);
        ASSERT_EQ(run.Start(answers, "", CAVITY_BIN, args), 0) << run.err;
        const int from = Went_On_From(run.err);
        went_on_from.insert(from);
        EXPECT_EQ(run.out, Without_Reports_Until(done.out, from));
        Expect_Same_Result_Files(done, run);
        EXPECT_EQ(run.File("run.ckpt"), done.File("run.ckpt"));
    }
    EXPECT_EQ(went_on_from, (std::set<int>{0, 100, 200, 300, 379})); // 379: the end
    std::printf("%zu crash states of four checkpoint replacements\n", states.size());

    // A FILE the disk has damaged after all, with a whole one before it.
    Program_Run cut(&params);
    program::Write_File(cut.dir / "run.ckpt", done.File("run.ckpt").substr(0, 5000));
    program::Write_File(cut.dir / "run.ckpt.prev", done.File("run.ckpt.prev"));
    ASSERT_EQ(cut.Start(answers, "", CAVITY_BIN, args), 0) << cut.err;
    const std::string notes =
        "note: --checkpoint run.ckpt is cut short: it has 5000 of its 11892 bytes; going on from "
        "run.ckpt.prev, the checkpoint before it (moved to run.ckpt)\n"
        "note: --checkpoint run.ckpt: going on from step 300\n";
    EXPECT_EQ(Without_Warnings(cut.err).substr(0, notes.size()), notes);
    EXPECT_EQ(cut.out, Without_Reports_Until(done.out, 300));
    Expect_Same_Result_Files(done, cut);
    EXPECT_EQ(cut.File("run.ckpt"), done.File("run.ckpt"));
}

} // namespace crash

} // namespace
