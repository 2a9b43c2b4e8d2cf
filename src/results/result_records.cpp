#include "results/result_records.hpp"

#include "textio/real_text.hpp"

#include <cstring>
#include <vector>

using textio::Real_Slot;
using textio::Real_Slots;

namespace {

constexpr int Slot = textio::Real_Slot_Width;
static_assert(Slot == 16);

inline void End_Line(char* p) {
    p[0] = '\r';
    p[1] = '\n';
}

} // namespace

void Put_Node_Records(int n, int m, float U_Ref, const Field& Rho, const Field& U, const Field& V,
                      const Field& T, const Field& Stream, char* out) {
    // Y depends on the row only, X on the column only: each is formatted
    // once. The five other reals of a row are formatted together, then laid
    // into the records.
    const std::size_t columns = std::size_t(n) + 1;
    std::vector<float> reals(5 * columns);
    std::vector<char> slots(5 * columns * Slot), x_slots(columns * Slot);
    for (std::size_t i = 0; i < columns; ++i)
        reals[i] = float(double(i) / double(m));
    Real_Slots(reals.data(), int(columns), x_slots.data());
    char y_slot[Slot];
    for (int j = 0; j <= m; ++j) {
        Real_Slot(float(double(j) / double(m)), y_slot);
        for (int i = 0; i <= n; ++i) {
            std::size_t c = Node(n, i, j);
            float* r = &reals[5 * std::size_t(i)];
            r[0] = float(double(U[c]) / U_Ref);
            r[1] = float(double(V[c]) / U_Ref);
            r[2] = float(double(Rho[c]) / 3.0);
            r[3] = T[c];
            r[4] = Stream[c];
        }
        Real_Slots(reals.data(), int(5 * columns), slots.data());
        for (std::size_t i = 0; i < columns; ++i) {
            const char* s = &slots[5 * Slot * i];
            std::memcpy(out, &x_slots[Slot * i], Slot);
            std::memcpy(out + Slot, y_slot, Slot);
            std::memcpy(out + 2 * Slot, s, 2 * Slot);
            End_Line(out + 4 * Slot);
            char* line2 = out + 4 * Slot + 2;
            std::memcpy(line2, s + 2 * Slot, 3 * Slot);
            End_Line(line2 + 3 * Slot);
            out += Node_Record_Size;
        }
    }
}

void Put_Midline_Records(int n, int m, float U_Ref, const Field& U, const Field& V, const Field& T,
                         char* v_out, char* t_out, char* u_out) {
    const int mid_row = m / 2, mid_column = n / 2;
    for (int i = 0; i <= n; ++i) {
        std::size_t c = Node(n, i, mid_row);
        Real_Slot(float(double(i) / double(n)), v_out);
        Real_Slot(float(double(V[c]) / U_Ref), v_out + Slot);
        End_Line(v_out + 2 * Slot);
        std::memcpy(t_out, v_out, Slot); // the same X
        Real_Slot(T[c], t_out + Slot);
        End_Line(t_out + 2 * Slot);
        v_out += Pair_Record_Size;
        t_out += Pair_Record_Size;
    }
    for (int j = 0; j <= m; ++j) {
        std::size_t c = Node(n, mid_column, j);
        Real_Slot(float(double(U[c]) / U_Ref), u_out);
        Real_Slot(float(double(j) / double(m)), u_out + Slot);
        End_Line(u_out + 2 * Slot);
        u_out += Pair_Record_Size;
    }
}
