#include "process/run_time.hpp"

#include "lattice/row_planes.hpp"
#include "lattice/row_workspace.hpp"
#include "process/folder_lock.hpp"
#include "results/result_files.hpp"
#include "textio/console.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cfenv>
#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <sched.h>
#include <string>
#include <unistd.h>
#include <xmmintrin.h>

namespace {

// The report of the trap handler for a SIGFPE si_code.
const char* Floating_Point_Kind(int si_code) {
    switch (si_code) {
    case FPE_FLTINV:
        return "invalid";
    case FPE_FLTDIV:
        return "divide by zero";
    case FPE_FLTOVF:
        return "overflow";
    case FPE_INTDIV:
        return "integer divide by zero";
    case FPE_INTOVF:
        return "integer overflow";
    case FPE_FLTUND:
        return "underflow";
    case FPE_FLTRES:
        return "inexact";
    default:
        return "unknown";
    }
}

// Where a trap on this thread goes back to, while Catch_Floating_Point_Traps
// runs its body.
struct Landing {
    sigjmp_buf at;
    volatile std::sig_atomic_t si_code = 0;
};
thread_local Landing* landing = nullptr;

// The words of Set_Trap_Cause and Set_Trap_Step, for the handler.
char trap_cause[1024];
std::atomic<int> trap_step{0};
static_assert(std::atomic<int>::is_always_lock_free);

void Write_Text(const char* text) {
    (void)!::write(2, text, std::strlen(text));
}

// "floating-point error: KIND[ at step N][: CAUSE]", by async-signal-safe
// calls alone.
void Write_Trap_Line(const char* kind) {
    Write_Text("floating-point error: ");
    Write_Text(kind);
    if (int step = trap_step.load(std::memory_order_relaxed); step > 0) {
        char digits[16];
        char* p = digits + sizeof digits;
        *--p = '\0';
        for (; step > 0; step /= 10)
            *--p = char('0' + step % 10);
        Write_Text(" at step ");
        Write_Text(p);
    }
    if (trap_cause[0] != '\0') {
        Write_Text(": ");
        Write_Text(trap_cause);
    }
    Write_Text("\n");
}

void On_Floating_Point_Error(int, siginfo_t* info, void*) {
    if (Landing* here = landing) {
        here->si_code = info->si_code;
        siglongjmp(here->at, 1);
    }
    Remove_Partial_File_From_Signal();
    Unlock_Working_Folder_From_Signal();
    textio::Console_Close_From_Signal();
    Write_Trap_Line(Floating_Point_Kind(info->si_code));
    ::_exit(1);
}

// Async-signal-safe: unlink, then raise with the default action, which
// SA_RESETHAND has put back; the signal is delivered when the handler returns.
void On_Interruption(int sig) {
    int saved = errno;
    Remove_Partial_File_From_Signal();
    Unlock_Working_Folder_From_Signal();
    textio::Console_Status_Clear(); // the shell's prompt comes next
    ::raise(sig);
    errno = saved;
}

} // namespace

void Set_Trap_Cause(const std::string& cause) {
    const std::size_t length = std::min(cause.size(), sizeof trap_cause - 1);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    std::memcpy(trap_cause, cause.data(), length);
    trap_cause[length] = '\0';
    std::atomic_signal_fence(std::memory_order_seq_cst);
}

void Set_Trap_Step(int step) {
    trap_step.store(step, std::memory_order_relaxed);
}

void Enable_Interruption_Cleanup() {
    struct sigaction sa {};
    sa.sa_handler = On_Interruption;
    sa.sa_flags = SA_RESETHAND;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&sa.sa_mask, sig);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction old {};
        // A signal ignored by whoever started the run stays ignored.
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        sigaction(sig, &sa, nullptr);
    }
}

namespace {

void Handle_Floating_Point_Errors(struct sigaction* before) {
    struct sigaction sa {};
    sa.sa_sigaction = On_Floating_Point_Error;
    sa.sa_flags = SA_SIGINFO;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGFPE, &sa, before);
}

void Set_Traps() {
    // Keep denormals: clear flush-to-zero (bit 15) and denormals-are-zero (bit 6).
    _mm_setcsr(_mm_getcsr() & ~0x8040u);
    std::feclearexcept(FE_ALL_EXCEPT);
    feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
}

// Runs body with `here` as this thread's landing; false where a trap came
// back to it. Nothing of this frame changes between sigsetjmp and the jump.
bool Run_Landed(Landing& here, const std::function<void()>& body, std::exception_ptr& failure) {
    if (sigsetjmp(here.at, 1) != 0)
        return false;
    landing = &here;
    Set_Traps();
    try {
        body();
    } catch (...) {
        failure = std::current_exception();
    }
    return true;
}

} // namespace

void Enable_Floating_Point_Traps() {
    Handle_Floating_Point_Errors(nullptr);
    Set_Traps();
}

namespace {

// The calls on any thread that hold the trap handler in place, and the action
// the first of them found: the handler stays while any call runs, and the
// last one out puts that action back.
std::mutex handler_mutex;
int handler_users = 0;
struct sigaction handler_before {};

void Hold_Trap_Handler() {
    std::lock_guard<std::mutex> hold(handler_mutex);
    if (handler_users++ == 0)
        Handle_Floating_Point_Errors(&handler_before);
}

void Release_Trap_Handler() {
    std::lock_guard<std::mutex> hold(handler_mutex);
    if (--handler_users == 0)
        sigaction(SIGFPE, &handler_before, nullptr);
}

} // namespace

const char* Catch_Floating_Point_Traps(const std::function<void()>& body) {
    std::fenv_t caller;
    std::fegetenv(&caller);
    Hold_Trap_Handler();
    Landing here;
    Landing* const outer = landing;
    std::exception_ptr failure;
    const bool returned = Run_Landed(here, body, failure);
    landing = outer;
    // A jump leaves the environment the handler ran in; the caller's either way.
    std::fesetenv(&caller);
    Release_Trap_Handler();
    if (failure)
        std::rethrow_exception(failure);
    return returned ? nullptr : Floating_Point_Kind(here.si_code);
}

void Allocate_Field(Field& f, std::size_t count, const char* name) {
    try {
        Field().swap(f);
        f.reserve(count);
        Prefer_Huge_Pages(f.data(), count * sizeof(float));
        f.assign(count, 0.0f);
    } catch (const std::exception&) { // bad_alloc, or length_error past the largest vector
        throw Run_Time_Error(std::string("run-time error: cannot allocate ") + name + " (" +
                             std::to_string(count * sizeof(float)) + " bytes): out of memory");
    }
}

std::uint64_t Bytes_Needed(int n, int m, int threads) {
    const std::uint64_t columns = std::uint64_t(n) + 1, rows = std::uint64_t(m) + 1;
    const std::uint64_t nodes = columns * rows;
    // Headers and records of the four small files.
    const std::uint64_t small_files = 66 + 18 + 2 * (17 + 34 * columns) + 17 + 34 * rows;
    // F and G of the fast step and their saved copies, rows of nine planes
    // whose planes are padded to 16 floats, and each thread's working rows.
    const std::uint64_t stride = (columns + 15) / 16 * 16;
    const std::uint64_t distributions = 4 * 4 * (9 * stride * rows + 16);
    const std::uint64_t step_rows = std::uint64_t(threads) * Band_Row_Count * 9 * 4 * stride;
    return nodes * (Bytes_A_Node - 4 * 36) + distributions + small_files + step_rows + Fixed_Bytes;
}

std::uint64_t Physical_Memory() {
    long pages = ::sysconf(_SC_PHYS_PAGES);
    long page_size = ::sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || page_size <= 0)
        return 0;
    return std::uint64_t(pages) * std::uint64_t(page_size);
}

namespace {

// The number in a limit file; 0 for "max", a missing file or anything else.
std::uint64_t Read_Limit(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (!f)
        return 0;
    char text[64] = {};
    std::size_t len = std::fread(text, 1, sizeof text - 1, f);
    std::fclose(f);
    text[len] = '\0';
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(text, &end, 10);
    if (end == text || errno != 0 || (*end != '\0' && *end != '\n'))
        return 0;
    return v;
}

// The lowest limit in `file` from the group `path` up to the root.
std::uint64_t Lowest_Limit(const std::string& root, std::string path, const char* file) {
    std::uint64_t lowest = 0;
    for (;;) {
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        std::string dir = path == "/" ? root : root + path;
        std::uint64_t v = Read_Limit(dir + "/" + file);
        if (v != 0 && (lowest == 0 || v < lowest))
            lowest = v;
        std::size_t slash = path.rfind('/');
        if (path == "/" || slash == std::string::npos)
            return lowest;
        path = slash == 0 ? "/" : path.substr(0, slash);
    }
}

std::string Figure(std::uint64_t bytes, bool in_gigabytes) {
    char buf[32];
    if (in_gigabytes)
        std::snprintf(buf, sizeof buf, "%.1f GB", double(bytes) / 1e9);
    else
        std::snprintf(buf, sizeof buf, "%.1f MB", double(bytes) / 1e6);
    return buf;
}

} // namespace

namespace {

// Calls group(v2, controllers, path) for each line "id:controllers:path" of
// /proc/self/cgroup; cgroup v2 has id 0 and no controllers.
template <class Group> void Each_Group(const std::string& self_cgroup, Group group) {
    std::size_t start = 0;
    while (start < self_cgroup.size()) {
        std::size_t end = self_cgroup.find('\n', start);
        if (end == std::string::npos)
            end = self_cgroup.size();
        std::string line = self_cgroup.substr(start, end - start);
        start = end + 1;
        std::size_t c1 = line.find(':'), c2 = c1 == std::string::npos ? c1 : line.find(':', c1 + 1);
        if (c2 == std::string::npos || c2 + 1 >= line.size() || line[c2 + 1] != '/')
            continue;
        std::string controllers = line.substr(c1 + 1, c2 - c1 - 1);
        bool v2 = line.compare(0, c1, "0") == 0 && controllers.empty();
        group(v2, "," + controllers + ",", line.substr(c2 + 1));
    }
}

std::string Read_Text(const std::string& path) {
    std::string text;
    if (std::FILE* f = std::fopen(path.c_str(), "r")) {
        char buf[4096];
        std::size_t len;
        while ((len = std::fread(buf, 1, sizeof buf, f)) > 0)
            text.append(buf, len);
        std::fclose(f);
    }
    return text;
}

// Cores a CPU quota allows ("QUOTA PERIOD", or the two numbers of cgroup
// v1), rounded up; 0 for none ("max", -1, missing).
int Quota_Cores(const std::string& quota, const std::string& period) {
    char* end = nullptr;
    const long long q = std::strtoll(quota.c_str(), &end, 10);
    if (end == quota.c_str() || q <= 0)
        return 0;
    const long long p = std::strtoll(period.c_str(), &end, 10);
    if (end == period.c_str() || p <= 0)
        return 0;
    return int(std::min<long long>((q + p - 1) / p, 1 << 20));
}

// The lowest CPU quota from the group `path` up to the root, in cores.
int Lowest_Quota(const std::string& root, std::string path, bool v2) {
    int lowest = 0;
    for (;;) {
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        const std::string dir = path == "/" ? root : root + path;
        int cores = 0;
        if (v2) {
            const std::string text = Read_Text(dir + "/cpu.max");
            const std::size_t blank = text.find(' ');
            if (blank != std::string::npos)
                cores = Quota_Cores(text.substr(0, blank), text.substr(blank + 1));
        } else {
            cores = Quota_Cores(Read_Text(dir + "/cpu.cfs_quota_us"),
                                Read_Text(dir + "/cpu.cfs_period_us"));
        }
        if (cores != 0 && (lowest == 0 || cores < lowest))
            lowest = cores;
        const std::size_t slash = path.rfind('/');
        if (path == "/" || slash == std::string::npos)
            return lowest;
        path = slash == 0 ? "/" : path.substr(0, slash);
    }
}

} // namespace

std::uint64_t Control_Group_Limit(const std::string& cgroup_root, const std::string& self_cgroup) {
    std::uint64_t lowest = 0;
    auto take = [&](std::uint64_t v) {
        if (v != 0 && (lowest == 0 || v < lowest))
            lowest = v;
    };
    Each_Group(self_cgroup, [&](bool v2, const std::string& controllers, const std::string& path) {
        if (v2) {
            take(Lowest_Limit(cgroup_root, path, "memory.max"));
            // A v2 tree mounted beside v1 controllers.
            take(Lowest_Limit(cgroup_root + "/unified", path, "memory.max"));
        } else if (controllers.find(",memory,") != std::string::npos) {
            take(Lowest_Limit(cgroup_root + "/memory", path, "memory.limit_in_bytes"));
        }
    });
    return lowest;
}

int Control_Group_Cores(const std::string& cgroup_root, const std::string& self_cgroup) {
    int lowest = 0;
    Each_Group(self_cgroup, [&](bool v2, const std::string& controllers, const std::string& path) {
        int cores = 0;
        if (v2)
            cores = Lowest_Quota(cgroup_root, path, true);
        else if (controllers.find(",cpu,") != std::string::npos)
            cores = Lowest_Quota(cgroup_root + "/" + controllers.substr(1, controllers.size() - 2),
                                 path, false);
        if (cores != 0 && (lowest == 0 || cores < lowest))
            lowest = cores;
    });
    return lowest;
}

namespace {

// The first number of OMP_NUM_THREADS's list, as OpenMP programs take it; 0
// if it is not a whole number from 1 to 4096.
int Omp_Num_Threads(const char* omp_num_threads) {
    if (!omp_num_threads)
        return 0;
    const char* p = omp_num_threads;
    while (*p == ' ' || *p == '\t')
        ++p;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(p, &end, 10);
    while (end != p && (*end == ' ' || *end == '\t'))
        ++end;
    if (end != p && errno == 0 && v >= 1 && v <= 4096 && (*end == '\0' || *end == ','))
        return int(v);
    return 0;
}

} // namespace

int Thread_Count(int requested, const char* omp_num_threads, int cores) {
    if (requested > 0)
        return requested;
    if (const int v = Omp_Num_Threads(omp_num_threads))
        return v;
    return std::max(1, cores);
}

bool Thread_Count_Given(int requested) {
    return requested > 0 || Omp_Num_Threads(std::getenv("OMP_NUM_THREADS")) > 0;
}

int Thread_Count(int requested) {
    if (requested > 0)
        return requested;
    cpu_set_t set;
    CPU_ZERO(&set);
    int cores = ::sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 1;
    const int quota = Control_Group_Cores("/sys/fs/cgroup", Read_Text("/proc/self/cgroup"));
    if (quota > 0 && quota < cores)
        cores = quota;
    return Thread_Count(requested, std::getenv("OMP_NUM_THREADS"), cores);
}

std::int64_t Queued_Nanoseconds() {
    // Kept open by each thread that asks, so that a reading costs a
    // microsecond: "time on a core, time runnable without one, time slices".
    struct Statistics {
        int fd = ::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
        ~Statistics() {
            if (fd >= 0)
                ::close(fd);
        }
    };
    thread_local const Statistics file;
    char text[96];
    const ssize_t len = file.fd < 0 ? -1 : ::pread(file.fd, text, sizeof text - 1, 0);
    if (len <= 0)
        return -1;
    text[len] = '\0';
    char* end = nullptr;
    std::strtoll(text, &end, 10);
    const char* second = end;
    const long long queued = std::strtoll(second, &end, 10);
    return end == second || queued < 0 ? -1 : std::int64_t(queued);
}

std::uint64_t Control_Group_Limit() {
    return Control_Group_Limit("/sys/fs/cgroup", Read_Text("/proc/self/cgroup"));
}

std::string Memory_Shortage(int n, int m, std::uint64_t need, std::uint64_t physical,
                            std::uint64_t limit) {
    bool by_limit = limit != 0 && (physical == 0 || limit < physical);
    std::uint64_t have = by_limit ? limit : physical;
    if (have == 0 || need <= have)
        return "";
    bool gigabytes = have >= 1000000000u;
    return "run-time error: a " + std::to_string(n) + " x " + std::to_string(m) + " grid needs " +
           Figure(need, gigabytes) + " of memory; " +
           (by_limit ? "the memory limit of its control group is " : "this machine has ") +
           Figure(have, gigabytes);
}

void Check_Memory(int n, int m, int threads, std::uint64_t extra) {
    std::string shortage = Memory_Shortage(n, m, Bytes_Needed(n, m, threads) + extra,
                                           Physical_Memory(), Control_Group_Limit());
    if (!shortage.empty())
        throw Run_Time_Error(shortage);
}
