// A run killed at any moment, also while it rewrites its files, leaves each
// result file either absent or one complete snapshot. SIGTERM also removes
// the temporary files and ends the run as the signal does.
#include "support/program_run.hpp"
#include "support/result_check.hpp"
#include "support/spawn.hpp"

#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <poll.h>
#include <random>
#include <set>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>

using program::Program_Run;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Large enough that a report (1.4 MB of "Result.dat") takes milliseconds;
// Ra and T_Init keep the run going for far longer than any delay below.
constexpr int N = 120, M = 100;
const std::string Params = program::Parameter_File("0.71", "1e5", "1", "0", "0", "0.8");

bool Is_Temporary(const char* name) {
    std::string s = name;
    return s.size() > 4 && s.compare(s.size() - 4, 4, ".tmp") == 0;
}

// Watches the run's folder for the temporary result files: how many have
// been opened for a rewrite, and whether the run died with one opened and
// not yet put in place.
struct Folder_Watch {
    int fd;
    int opened = 0;             // temporary files opened, in all
    int cut_short = 0;          // rewrites removed or left unfinished
    std::set<std::string> open; // opened, not yet moved into place
    explicit Folder_Watch(const fs::path& dir) {
        fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        inotify_add_watch(fd, dir.c_str(), IN_OPEN | IN_MOVED_FROM | IN_DELETE);
    }
    ~Folder_Watch() { ::close(fd); }
    // Reads what has happened, waiting up to timeout_ms for something.
    void Take(int timeout_ms) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeout_ms) <= 0)
            return;
        alignas(inotify_event) char buf[8192];
        ssize_t len;
        while ((len = ::read(fd, buf, sizeof buf)) > 0) {
            for (char* q = buf; q < buf + len;) {
                auto* ev = reinterpret_cast<inotify_event*>(q);
                if (ev->len > 0 && Is_Temporary(ev->name)) {
                    if (ev->mask & IN_OPEN) {
                        ++opened;
                        open.insert(ev->name);
                    }
                    if (ev->mask & IN_MOVED_FROM)
                        open.erase(ev->name);
                    if ((ev->mask & IN_DELETE) && open.erase(ev->name))
                        ++cut_short;
                }
                q += sizeof(inotify_event) + ev->len;
            }
        }
    }
    // After the run has ended: was a rewrite under way?
    bool Rewrite_Was_Cut() {
        Take(0);
        return cut_short > 0 || !open.empty();
    }
};

struct Trial {
    Program_Run run{&Params};
    pid_t pid = -1;
    Folder_Watch watch{run.dir};
    Trial() {
        program::Write_File(run.dir / "console.in",
                            std::to_string(N) + "\n" + std::to_string(M) + "\n\n");
        pid = program::Spawn_Program(run.dir);
    }
    bool reaped = false;
    ~Trial() {
        if (!reaped) { // a failed check left it running
            ::kill(pid, SIGKILL);
            program::Wait_Program(pid);
        }
    }
    program::Ended Wait() {
        reaped = true;
        return program::Wait_Program(pid);
    }
    bool Still_Running() {
        int status;
        if (::waitpid(pid, &status, WNOHANG) == 0)
            return true;
        reaped = true;
        return false;
    }
    // Waits until `count` temporary files have been opened in all (five a
    // report).
    bool Wait_For_Temporaries(int count) {
        auto give_up = Clock::now() + std::chrono::seconds(60);
        while (watch.opened < count) {
            watch.Take(20);
            if (Clock::now() > give_up)
                return false;
        }
        return true;
    }
};

TEST(Interruption, KillsAtRandomMomentsLeaveOnlyCompleteFiles) {
    unsigned seed = std::random_device{}();
    if (const char* s = std::getenv("CAVITY_KILL_SEED"))
        seed = unsigned(std::stoul(s));
    std::mt19937 rng(seed);
    SCOPED_TRACE("CAVITY_KILL_SEED=" + std::to_string(seed));

    // How long three reports take on this machine now: the range of the
    // blind delays.
    Clock::duration horizon;
    {
        Trial t;
        auto start = Clock::now();
        ASSERT_TRUE(t.Wait_For_Temporaries(11)) << "no third report";
        horizon = Clock::now() - start;
        ::kill(t.pid, SIGKILL);
        t.Wait();
    }

    // 200 in a plain build; the sanitizer build, three times slower, checks
    // the same paths with fewer.
    const int kills = program::Address_Sanitized ? 50 : 200;
    int mid_rewrite = 0, snapshots = 0;
    for (int k = 0; k < kills; ++k) {
        SCOPED_TRACE("kill " + std::to_string(k));
        Trial t;
        int sig = rng() % 2 ? SIGKILL : SIGTERM;
        if (k % 2 == 0) {
            // Blind: anywhere in the first three reports, start-up included.
            std::uniform_int_distribution<long long> delay(0, horizon.count());
            std::this_thread::sleep_for(Clock::duration(delay(rng)));
        } else {
            // Aimed: just after one of the ten files of the first two reports
            // is begun, most often "Result.dat", the first and longest.
            int nth = rng() % 2 ? int(rng() % 2) * 5 + 1 : int(rng() % 10) + 1;
            ASSERT_TRUE(t.Wait_For_Temporaries(nth));
            std::this_thread::sleep_for(std::chrono::microseconds(rng() % 1000));
        }
        ASSERT_TRUE(t.Still_Running()) << "the run ended before the kill";
        ::kill(t.pid, sig);
        program::Ended end = t.Wait();

        ASSERT_TRUE(WIFSIGNALED(end.status) && WTERMSIG(end.status) == sig)
            << "status " << end.status << " after signal " << sig << "; "
            << program::Read_File(t.run.dir / "console.err");
        mid_rewrite += t.watch.Rewrite_Was_Cut();
        if (sig == SIGTERM) {
            int temporaries = 0;
            for (auto& e : fs::directory_iterator(t.run.dir))
                temporaries += Is_Temporary(e.path().filename().c_str());
            EXPECT_EQ(temporaries, 0) << "SIGTERM left a temporary file";
        }
        for (const char* f : program::Result_Files) {
            if (!t.run.Has(f))
                continue;
            ++snapshots;
            ASSERT_EQ(program::Snapshot_Fault(f, t.run.File(f), N, M), "") << f;
        }
    }
    // The aimed kills must really have landed inside the rewriting, or the
    // test proves nothing about it.
    EXPECT_GE(mid_rewrite, kills / 40);
    RecordProperty("kills", kills);
    RecordProperty("kills_while_rewriting", mid_rewrite);
    RecordProperty("complete_files_checked", snapshots);
    std::printf("%d kills, %d while a file was being rewritten, %d complete files checked\n", kills,
                mid_rewrite, snapshots);
}

TEST(Interruption, InterruptWhileWritingRemovesTheTemporaryFile) {
    Trial t;
    ASSERT_TRUE(t.Wait_For_Temporaries(1));
    ::kill(t.pid, SIGINT);
    program::Ended end = t.Wait();
    EXPECT_TRUE(WIFSIGNALED(end.status) && WTERMSIG(end.status) == SIGINT) << end.status;
    EXPECT_FALSE(t.run.Has("Result.dat.tmp"));
    for (const char* f : program::Result_Files) {
        if (t.run.Has(f)) {
            EXPECT_EQ(program::Snapshot_Fault(f, t.run.File(f), N, M), "") << f;
        }
    }
}

TEST(Interruption, HangUpIgnoredByTheCallerStaysIgnored) {
    // As under nohup: the run inherits SIGHUP ignored and must keep it so.
    struct sigaction ignore {
    }, old{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGHUP, &ignore, &old);
    Trial t;
    sigaction(SIGHUP, &old, nullptr);
    ASSERT_TRUE(t.Wait_For_Temporaries(1));
    ::kill(t.pid, SIGHUP);
    ASSERT_TRUE(t.Wait_For_Temporaries(6)) << "the run did not reach its second report";
    EXPECT_TRUE(t.Still_Running());
}

} // namespace
