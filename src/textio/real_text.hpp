#pragma once
// Text of the numbers in a record: integers and single-precision reals.
#include <cstdint>

namespace textio {

// Longest texts: "-2147483648" (11) and "-1234567.000000" (15).
inline constexpr int Integer_Width = 11;
inline constexpr int Real_Width = 15;

// Writes the text of v to out (no terminator) and returns its length.
int Integer_Text(std::int32_t v, char* out);

// Writes the text of x to out (no terminator) and returns its length:
// 7 significant digits, fixed form "123.456000" for 1 <= |x| < 1e7, exponent
// form "1.234560E-01" otherwise. The digits come from the exact value rounded
// half up to 17 digits, then half up to 7 (which is the same as half up to 7
// directly).
int Real_Text(float x, char* out);

// The 16 columns a real takes in a line of reals: the blank in front of it
// (the record's leading blank or the separator blank) and its 15-column
// field, the text right-aligned. Writes exactly Real_Slot_Width characters,
// the same as a real item that follows a real, or starts a record, in the
// record writer.
inline constexpr int Real_Slot_Width = Real_Width + 1;
void Real_Slot(float x, char* slot);

// The slots of count reals, side by side at out (Real_Slot_Width each): the
// same bytes as Real_Slot gives each of them, several reals at a time.
void Real_Slots(const float* x, int count, char* out);

// Whether Real_Slots may take the AVX2 instructions where the build holds
// them: by default where the processor has them; the program forbids them
// when its kernels are held to the baseline. The same bytes either way.
void Allow_Avx2_Slots(bool allowed);
bool Avx2_Slots_Allowed();

// Real_Slots as one build of it has it, with AVX2 or without.
struct Real_Slots_Kernels {
    decltype(&Real_Slots) real_slots;
};

// The 17-digit expansion of |x| for finite x != 0: Digits17 in [1e16, 1e17)
// and E with |x| ~ 0.d1d2...d17 x 10^E. Exposed for tests.
struct Expansion {
    std::uint64_t Digits17;
    int E;
};
Expansion Expand17(float x);

} // namespace textio
