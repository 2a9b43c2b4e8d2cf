#include "driver/run_time.hpp"

#include "results/result_files.hpp"
#include "textio/console.hpp"

#include <cfenv>
#include <csignal>
#include <cstdio>
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

std::string Gigabytes(std::uint64_t bytes) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f GB", double(bytes) / 1e9);
    return buf;
}

} // namespace

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
    } catch (const std::bad_alloc&) {
        throw Run_Time_Error(std::string("run-time error: cannot allocate ") + name + " (" +
                             std::to_string(count * sizeof(float)) + " bytes): out of memory");
    }
}

std::uint64_t Bytes_Needed(int n, int m) {
    std::uint64_t nodes = (std::uint64_t(n) + 1) * (std::uint64_t(m) + 1);
    // 34 floats a node in the field arrays, the stream function, and the
    // text of "Result.dat" (116 bytes a node) while it is written.
    return nodes * (136 + 4 + 116);
}

std::uint64_t Physical_Memory() {
    long pages = ::sysconf(_SC_PHYS_PAGES);
    long page_size = ::sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || page_size <= 0)
        return 0;
    return std::uint64_t(pages) * std::uint64_t(page_size);
}

void Check_Memory(int n, int m) {
    std::uint64_t need = Bytes_Needed(n, m), have = Physical_Memory();
    if (have != 0 && need > have)
        throw Run_Time_Error("run-time error: a " + std::to_string(n) + " x " + std::to_string(m) +
                             " grid needs " + Gigabytes(need) + " of memory; this machine has " +
                             Gigabytes(have));
}
