#pragma once
// The run-time layer: the floating-point environment of the run, storage,
// and the errors that end a run.
#include "lattice/lattice.hpp"

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

// Storage that cannot be obtained, or a grid the machine cannot hold.
struct Run_Time_Error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Invalid operation, division by zero and overflow trap for the rest of the
// run and end it with "floating-point error: <kind>" and exit status 1.
// Underflow and denormals pass and are kept (no flush to zero).
void Enable_Floating_Point_Traps();

// What the line of a trap adds to its kind, prepared before the run so that
// the handler only writes it: the step being made (0: none) and the likely
// cause with its remedy ("" for none), as in "floating-point error: overflow
// at step 1234: the flow has blown up, as ...".
void Set_Trap_Cause(const std::string& cause);
void Set_Trap_Step(int step);

// For a caller that runs the solver inside its own process (a library): runs
// body() on this thread with the run's floating-point environment (the traps
// above, no flush to zero) and gives the caller's environment and SIGFPE
// action back afterwards, whatever the end. A trap on this thread while body
// runs ends body at once and its kind is returned ("invalid", "divide by
// zero", "overflow"); nullptr where body returned. An exception from body is
// passed on. Calls may run on several threads at once: the handler stays in
// place until the last of them returns.
//
// The trap leaves body by siglongjmp, so the frames it cuts short are not
// unwound and what storage they held is not given back. No lock, held trap
// or work of the threads can be among them: a trap lands only on this
// thread, and all work on the threads holds the traps. A trap on a thread
// that no call waits on ends the process as in the program.
const char* Catch_Floating_Point_Traps(const std::function<void()>& body);

// SIGTERM, SIGINT and SIGHUP remove the temporary result files (one may be
// half written), then end the run as the signal would have (status 128 +
// signal). A signal that the caller left ignored stays ignored.
void Enable_Interruption_Cleanup();

// Sizes the field arrays; a failed allocation throws Run_Time_Error naming
// the array.
void Allocate_Field(Field& f, std::size_t count, const char* name);

// Bytes a run on an n x m grid holds at its peak, with `threads` threads: the
// seven node fields (28 bytes a node), the fast step's F and G and their
// saved copies (144 bytes a node; each plane of a row padded to 16 floats)
// with the saved Rho, U, V and T (16), the working storage of the result
// files (the stream function, 4 bytes a node, and the texts of the five
// files, 116 bytes a node for "Result.dat"), seven rows of nine planes a
// thread and Fixed_Bytes for the program itself and its longest input line.
// The set-up's field arrays F, Feq and G (108 bytes a node) are released
// while the fast storage is obtained, and a step redone on the
// straightforward procedures obtains only Feq (36), so neither moment needs
// more.
inline constexpr std::uint64_t Bytes_A_Node = 28 + 144 + 16 + 4 + 116;
inline constexpr std::uint64_t Fixed_Bytes = std::uint64_t(16) << 20;
std::uint64_t Bytes_Needed(int n, int m, int threads = 1);

// Physical memory of the machine, 0 if unknown.
std::uint64_t Physical_Memory();

// The memory limit of the process's control group (cgroup v2 memory.max or
// v1 memory.limit_in_bytes, the lowest along its path), 0 if there is none.
// The arguments are the cgroup file system root and the text of
// /proc/self/cgroup.
std::uint64_t Control_Group_Limit(const std::string& cgroup_root, const std::string& self_cgroup);
std::uint64_t Control_Group_Limit();

// The message for a grid that does not fit, or "" if it fits. `limit` is the
// control-group limit (0 for none); a limit not below the physical memory
// does not count.
std::string Memory_Shortage(int n, int m, std::uint64_t need, std::uint64_t physical,
                            std::uint64_t limit);

// Throws Run_Time_Error with both figures if the grid does not fit, with
// `extra` bytes that options need beside it.
void Check_Memory(int n, int m, int threads = 1, std::uint64_t extra = 0);

// Threads for the time step: `requested` (--threads) if given, else the
// first number of OMP_NUM_THREADS, else the cores the process may run on
// (its affinity mask, and the CPU quota of its control group).
int Thread_Count(int requested);
int Thread_Count(int requested, const char* omp_num_threads, int cores);

// Whether the user fixed the count (--threads, or OMP_NUM_THREADS); if not,
// the program chooses it while the run goes on.
bool Thread_Count_Given(int requested);

// Nanoseconds the calling thread has spent runnable but without a core
// (other work holding the cores), from the kernel's scheduler statistics
// (/proc/thread-self/schedstat); -1 where they are not kept.
std::int64_t Queued_Nanoseconds();

// Cores the CPU quota of the process's control group allows (cgroup v2
// cpu.max or v1 cpu.cfs_quota_us over cpu.cfs_period_us, rounded up, the
// lowest along its path), 0 if there is none. Arguments as for
// Control_Group_Limit.
int Control_Group_Cores(const std::string& cgroup_root, const std::string& self_cgroup);
