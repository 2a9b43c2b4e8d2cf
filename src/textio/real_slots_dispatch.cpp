// Real_Slots with AVX2 where it is allowed, else without.
#include "textio/real_text.hpp"

extern const textio::Real_Slots_Kernels Real_Slots_Table_baseline, Real_Slots_Table_avx2;

namespace textio {

void Real_Slots(const float* x, int count, char* out) {
    (Avx2_Slots_Allowed() ? Real_Slots_Table_avx2 : Real_Slots_Table_baseline)
        .real_slots(x, count, out);
}

} // namespace textio
