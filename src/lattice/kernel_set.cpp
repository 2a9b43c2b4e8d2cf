#include "lattice/kernel_set.hpp"

#include <atomic>
#include <initializer_list>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace {

#if defined(__x86_64__) || defined(__i386__)
// What the processor has of each set, from the identification instruction:
// x86-64-v3 (AVX, AVX2, BMI1, BMI2, F16C, FMA, LZCNT, MOVBE) and x86-64-v4
// (AVX-512 F, BW, CD, DQ, VL), each with the register state the system saves.
struct Processor {
    bool v3 = false, v4 = false;
};

Processor Identify() {
    unsigned a, b, c, d;
    Processor p;
    if (!__get_cpuid(1, &a, &b, &c, &d))
        return p;
    const unsigned leaf1_c = c;
    const bool os_saves_avx = (c >> 27) & 1; // OSXSAVE: XGETBV is there
    if (!os_saves_avx || !__get_cpuid_count(7, 0, &a, &b, &c, &d))
        return p;
    const unsigned leaf7_b = b;
    unsigned lzcnt = 0;
    if (__get_cpuid(0x80000001, &a, &b, &c, &d))
        lzcnt = (c >> 5) & 1;
    unsigned xcr0_lo, xcr0_hi;
    __asm__("xgetbv" : "=a"(xcr0_lo), "=d"(xcr0_hi) : "c"(0));
    auto all = [](unsigned word, std::initializer_list<int> bits) {
        for (int bit : bits)
            if (!((word >> bit) & 1))
                return false;
        return true;
    };
    const bool ymm = (xcr0_lo & 0x6) == 0x6, zmm = (xcr0_lo & 0xe6) == 0xe6;
    p.v3 = ymm && lzcnt && all(leaf1_c, {12, 22, 28, 29}) && all(leaf7_b, {3, 5, 8});
    p.v4 = p.v3 && zmm && all(leaf7_b, {16, 17, 28, 30, 31});
    return p;
}
#endif

// The one set of a build without a choice: the one its flags give.
constexpr Kernel_Set Compiled_Set =
#if defined(__AVX512F__) && defined(__AVX512BW__) && defined(__AVX512VL__)
    Kernel_Set::Avx512;
#elif defined(__AVX2__) && defined(__FMA__)
    Kernel_Set::Avx2;
#else
    Kernel_Set::Baseline;
#endif

std::atomic<int> chosen{-1};

} // namespace

const char* Kernel_Set_Name(Kernel_Set set) {
    switch (set) {
    case Kernel_Set::Avx512:
        return "avx512";
    case Kernel_Set::Avx2:
        return "avx2";
    default:
        return "baseline";
    }
}

std::vector<Kernel_Set> Kernel_Sets_Built() {
#if defined(CAVITY_KERNEL_DISPATCH)
    return {Kernel_Set::Baseline, Kernel_Set::Avx2, Kernel_Set::Avx512};
#else
    return {Compiled_Set};
#endif
}

bool Processor_Runs(Kernel_Set set) {
#if defined(__x86_64__) || defined(__i386__)
    static const Processor p = Identify();
    return set == Kernel_Set::Baseline || (set == Kernel_Set::Avx2 && p.v3) ||
           (set == Kernel_Set::Avx512 && p.v4);
#else
    return set == Compiled_Set;
#endif
}

Kernel_Set Kernel_Set_In_Use() {
    int set = chosen.load(std::memory_order_relaxed);
    if (set < 0) {
        set = int(Compiled_Set);
        for (Kernel_Set s : Kernel_Sets_Built())
            if (Processor_Runs(s))
                set = int(s);
        chosen.store(set, std::memory_order_relaxed);
    }
    return Kernel_Set(set);
}

void Use_Kernel_Set(Kernel_Set set) {
    chosen.store(int(set), std::memory_order_relaxed);
}
