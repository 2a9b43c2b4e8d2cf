#include "lattice/row_planes.hpp"

#include <sys/mman.h>

void Prefer_Huge_Pages(void* p, std::size_t bytes) {
#if defined(MADV_HUGEPAGE)
    const std::uintptr_t huge = std::uintptr_t(2) << 20;
    const std::uintptr_t from = (reinterpret_cast<std::uintptr_t>(p) + huge - 1) / huge * huge;
    const std::uintptr_t to = (reinterpret_cast<std::uintptr_t>(p) + bytes) / huge * huge;
    if (to > from)
        ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE); // a hint only
#else
    (void)p;
    (void)bytes;
#endif
}
