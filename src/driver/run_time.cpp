#include "driver/run_time.hpp"

#include "results/result_files.hpp"
#include "textio/console.hpp"

#include <cerrno>
#include <cfenv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <unistd.h>
#include <xmmintrin.h>

namespace {

void On_Floating_Point_Error(int, siginfo_t* info, void*) {
    Remove_Partial_File_From_Signal();
    textio::Console_Close_From_Signal();
    const char* kind = Floating_Point_Kind(info->si_code);
    const char head[] = "floating-point error: ";
    (void)!::write(2, head, sizeof head - 1);
    (void)!::write(2, kind, std::strlen(kind));
    (void)!::write(2, "\n", 1);
    ::_exit(1);
}

// Async-signal-safe: unlink, then raise with the default action, which
// SA_RESETHAND has put back; the signal is delivered when the handler returns.
void On_Interruption(int sig) {
    int saved = errno;
    Remove_Partial_File_From_Signal();
    textio::Console_Status_Clear(); // the shell's prompt comes next
    ::raise(sig);
    errno = saved;
}

} // namespace

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

void Enable_Floating_Point_Traps() {
    struct sigaction sa {};
    sa.sa_sigaction = On_Floating_Point_Error;
    sa.sa_flags = SA_SIGINFO;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGFPE, &sa, nullptr);
    // Keep denormals: clear flush-to-zero (bit 15) and denormals-are-zero (bit 6).
    _mm_setcsr(_mm_getcsr() & ~0x8040u);
    std::feclearexcept(FE_ALL_EXCEPT);
    feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
}

void Allocate_Field(Field& f, std::size_t count, const char* name) {
    try {
        f.assign(count, 0.0f);
    } catch (const std::exception&) { // bad_alloc, or length_error past the largest vector
        throw Run_Time_Error(std::string("run-time error: cannot allocate ") + name + " (" +
                             std::to_string(count * sizeof(float)) + " bytes): out of memory");
    }
}

std::uint64_t Bytes_Needed(int n, int m) {
    std::uint64_t nodes = (std::uint64_t(n) + 1) * (std::uint64_t(m) + 1);
    // Headers and records of the four small files.
    std::uint64_t small_files =
        66 + 18 + 2 * (17 + 34 * (std::uint64_t(n) + 1)) + 17 + 34 * (std::uint64_t(m) + 1);
    // The fast time step's six rows of nine planes, each row padded to 16.
    std::uint64_t row_floats = (std::uint64_t(n) + 1 + 15) / 16 * 16;
    std::uint64_t step_rows = 6 * 9 * 4 * row_floats;
    return nodes * Bytes_A_Node + small_files + step_rows + Fixed_Bytes;
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

std::uint64_t Control_Group_Limit(const std::string& cgroup_root, const std::string& self_cgroup) {
    std::uint64_t lowest = 0;
    auto take = [&](std::uint64_t v) {
        if (v != 0 && (lowest == 0 || v < lowest))
            lowest = v;
    };
    // Lines "id:controllers:path"; cgroup v2 has id 0 and no controllers.
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
        std::string path = line.substr(c2 + 1);
        if (line.compare(0, c1, "0") == 0 && controllers.empty()) {
            take(Lowest_Limit(cgroup_root, path, "memory.max"));
            // A v2 tree mounted beside v1 controllers.
            take(Lowest_Limit(cgroup_root + "/unified", path, "memory.max"));
        } else if (("," + controllers + ",").find(",memory,") != std::string::npos) {
            take(Lowest_Limit(cgroup_root + "/memory", path, "memory.limit_in_bytes"));
        }
    }
    return lowest;
}

std::uint64_t Control_Group_Limit() {
    std::string self;
    if (std::FILE* f = std::fopen("/proc/self/cgroup", "r")) {
        char buf[4096];
        std::size_t len;
        while ((len = std::fread(buf, 1, sizeof buf, f)) > 0)
            self.append(buf, len);
        std::fclose(f);
    }
    return Control_Group_Limit("/sys/fs/cgroup", self);
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

void Check_Memory(int n, int m, std::uint64_t extra) {
    std::string shortage =
        Memory_Shortage(n, m, Bytes_Needed(n, m) + extra, Physical_Memory(), Control_Group_Limit());
    if (!shortage.empty())
        throw Run_Time_Error(shortage);
}
