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
    Put_Node_Rows(n, m, 0, m + 1, U_Ref, Rho, U, V, T, Stream, out);
}

void Put_Node_Rows(int n, int m, int j0, int j1, float U_Ref, const Field& Rho, const Field& U,
                   const Field& V, const Field& T, const Field& Stream, char* out) {
    // Y depends on the row only, X on the column only: each is formatted
    // once. The other five reals are formatted a row at a time, column by
    // column, then laid into the records.
    const std::size_t columns = std::size_t(n) + 1;
    std::vector<float> x(columns), u(columns), v(columns), rho(columns);
    std::vector<char> slots(6 * columns * Slot);
    char* const x_slots = slots.data();
    char* const u_slots = x_slots + columns * Slot;
    char* const v_slots = u_slots + columns * Slot;
    char* const rho_slots = v_slots + columns * Slot;
    char* const t_slots = rho_slots + columns * Slot;
    char* const stream_slots = t_slots + columns * Slot;
    for (std::size_t i = 0; i < columns; ++i)
        x[i] = float(double(i) / double(m));
    Real_Slots(x.data(), int(columns), x_slots);
    char y_slot[Slot];
    for (int j = j0; j < j1; ++j) {
        Real_Slot(float(double(j) / double(m)), y_slot);
        const std::size_t c = Node(n, 0, j);
        for (std::size_t i = 0; i < columns; ++i) {
            u[i] = float(double(U[c + i]) / U_Ref);
            v[i] = float(double(V[c + i]) / U_Ref);
            rho[i] = float(double(Rho[c + i]) / 3.0);
        }
        Real_Slots(u.data(), int(columns), u_slots);
        Real_Slots(v.data(), int(columns), v_slots);
        Real_Slots(rho.data(), int(columns), rho_slots);
        Real_Slots(&T[c], int(columns), t_slots);
        Real_Slots(&Stream[c], int(columns), stream_slots);
        for (std::size_t i = 0; i < columns; ++i) {
            const std::size_t at = Slot * i;
            std::memcpy(out, x_slots + at, Slot);
            std::memcpy(out + Slot, y_slot, Slot);
            std::memcpy(out + 2 * Slot, u_slots + at, Slot);
            std::memcpy(out + 3 * Slot, v_slots + at, Slot);
            End_Line(out + 4 * Slot);
            char* line2 = out + 4 * Slot + 2;
            std::memcpy(line2, rho_slots + at, Slot);
            std::memcpy(line2 + Slot, t_slots + at, Slot);
            std::memcpy(line2 + 2 * Slot, stream_slots + at, Slot);
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
