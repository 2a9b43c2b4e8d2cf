#pragma once
// The data records of the result files, laid out straight into the file
// text. They hold reals only, so their layout never varies: every real takes
// a 16-column slot (textio::Real_Slot), at most four to a line, each line
// ended by CR LF, byte for byte as the record writer lays out the same items.
#include "lattice/lattice.hpp"

#include <cstddef>

// A "Result.dat" record of seven reals: a line of four slots, then three.
inline constexpr std::size_t Node_Record_Size = 4 * 16 + 2 + 3 * 16 + 2; // 116
// A mid-line record of two reals.
inline constexpr std::size_t Pair_Record_Size = 2 * 16 + 2; // 34

// The (n + 1)(m + 1) node records of "Result.dat", rows j = 0..m, i fastest:
// X = i / m, Y = j / m, U / U_Ref, V / U_Ref, Rho / 3, T, Stream. Writes
// Node_Record_Size bytes per node at out.
void Put_Node_Records(int n, int m, float U_Ref, const Field& Rho, const Field& U, const Field& V,
                      const Field& T, const Field& Stream, char* out);

// The records of the rows j0 .. j1 - 1 only, written at out (where the
// record of node (0, j0) goes): the same bytes as those rows take among all.
void Put_Node_Rows(int n, int m, int j0, int j1, float U_Ref, const Field& Rho, const Field& U,
                   const Field& V, const Field& T, const Field& Stream, char* out);

// The records of the three mid-line files: n + 1 records at v_out (i / n,
// V(i, m / 2) / U_Ref) and at t_out (i / n, T(i, m / 2)), m + 1 records at
// u_out (U(n / 2, j) / U_Ref, j / m).
void Put_Midline_Records(int n, int m, float U_Ref, const Field& U, const Field& V, const Field& T,
                         char* v_out, char* t_out, char* u_out);
