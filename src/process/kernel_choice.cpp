#include "process/kernel_choice.hpp"

#include "lattice/kernel_set.hpp"
#include "textio/real_text.hpp"

#include <cstring>

namespace {

std::string Names(bool runnable_only) {
    std::string names;
    for (Kernel_Set s : Kernel_Sets_Built())
        if (!runnable_only || Processor_Runs(s))
            names += (names.empty() ? "" : ", ") + std::string(Kernel_Set_Name(s));
    return names;
}

} // namespace

void Choose_Kernels(const char* forced) {
    if (forced == nullptr || *forced == '\0')
        return;
    const std::string what = "usage error: CAVITY_KERNELS=" + std::string(forced) + ": ";
    for (Kernel_Set s : Kernel_Sets_Built()) {
        if (std::strcmp(forced, Kernel_Set_Name(s)) != 0)
            continue;
        if (!Processor_Runs(s))
            throw Kernel_Choice_Error(what + "this processor does not run these kernels; it runs " +
                                      Names(true) + ", or leave CAVITY_KERNELS unset");
        Use_Kernel_Set(s);
        textio::Allow_Avx2_Slots(s != Kernel_Set::Baseline);
        return;
    }
    throw Kernel_Choice_Error(what + "not a set of kernels of this build; it holds " +
                              Names(false) + ", or leave CAVITY_KERNELS unset");
}

std::string Kernels_Text() {
    return std::string(Kernel_Set_Name(Kernel_Set_In_Use())) + " kernels of " + Names(false);
}
