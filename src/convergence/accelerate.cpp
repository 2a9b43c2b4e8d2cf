#include "convergence/accelerate.hpp"

#include "flow/flow_step.hpp"
#include "process/run_time.hpp"
#include "thermal/thermal_step.hpp"

#include <cfenv>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

// The extrapolations end once the block residual has fallen to this fraction
// of the largest of the cycle, or its root mean square to Floor a block of
// 400 steps, where single precision leaves it (the moving rounding of a
// steady run, and the mass the rounded weights add, grow with the block), or
// when it has stalled: not fallen below Stall_Fraction of its best for
// Stall_Blocks blocks of 400 steps (two blocks at least), twice in a row.
constexpr double Converged_Fraction = 1e-5;
constexpr double Floor = 1e-6;
constexpr double Stall_Fraction = 0.9;
constexpr int Stall_Blocks = 8;
// The heat content is extrapolated where its last three changes from sample
// to sample fall by ratios below Heat_Ratio that differ by Ratio_Spread at
// most (a drift that hardly slows, or a swing, is no geometric fall), and
// only once: each shift restarts the settle window, which costs more than
// the rest of the heat content (measured). No shift below Heat_Floor of the
// walls' difference (it would move Nu by some 3e-6).
constexpr double Heat_Ratio = 0.95;
constexpr double Ratio_Spread = 0.1;
constexpr double Heat_Floor = 1e-6;
// Tikhonov regularisation of the least squares, relative to the largest
// diagonal of the Gram matrix: rounding of the float columns sits near 1e-7
// relative, so directions below that are noise.
constexpr double Regularisation = 1e-10;

std::size_t Half(int n, int m) {
    return 9 * Node_Count(n, m);
}

// The state now (F, then G, node order) out of the step's storage.
void Read_State(const Accelerated_Fields& s, Field& to) {
    const std::size_t half = Half(s.n, s.m);
    Copy_Distributions_Out(s.steps, s.n, 0, s.m + 1, s.F, s.G, to.data(), to.data() + half);
}

// Makes (F, G) the state, with the moments the step forms from them and the
// old copies equal to those moments. The moments are formed with the traps
// held; false (and nothing changed) where they raise or are not finite.
bool Write_State(const Accelerated_Fields& s, const Field& F, const Field& G) {
    Field Rho = s.Rho, U = s.U, V = s.V, T = s.T;
    std::fenv_t traps;
    std::feholdexcept(&traps);
    Flow_Macroscopic(s.n, s.m, F, Rho, U, V);
    Thermal_Temperature(s.n, s.m, G, T, s.steps.scheme.insulated_walls);
    const bool raised = std::fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW) != 0;
    std::fesetenv(&traps);
    if (raised)
        return false;
    for (const Field* f : {&Rho, &U, &V, &T})
        for (float x : *f)
            if (!std::isfinite(x))
                return false;
    Copy_Distributions_In(s.steps, s.n, 0, s.m + 1, F.data(), G.data(), s.F, s.G);
    s.Rho.swap(Rho);
    s.U.swap(U);
    s.V.swap(V);
    s.T.swap(T);
    s.U_Old = s.U;
    s.V_Old = s.V;
    s.T_Old = s.T;
    return true;
}

bool Write_State(Accelerator& a, const Accelerated_Fields& s, const Field& x) {
    const std::size_t half = Half(s.n, s.m);
    std::copy(x.begin(), x.begin() + std::ptrdiff_t(half), a.X_F.begin());
    std::copy(x.begin() + std::ptrdiff_t(half), x.end(), a.X_G.begin());
    return Write_State(s, a.X_F, a.X_G);
}

// Element c of the state the block began at.
float Began(const Accelerator& a, std::size_t c) {
    const std::size_t half = a.X_F.size();
    return c < half ? a.X_F[c] : a.X_G[c - half];
}

// The block's residual, Now - the state it began at, in double: its norm.
double Residual_Norm(const Accelerator& a) {
    double sum = 0;
    for (std::size_t c = 0; c < a.Now.size(); ++c) {
        const double r = double(a.Now[c]) - Began(a, c);
        sum += r * r;
    }
    return std::sqrt(sum);
}

void Begin_Block(Accelerator& a, int Step) {
    const std::size_t half = a.X_F.size();
    std::copy(a.Now.begin(), a.Now.begin() + std::ptrdiff_t(half), a.X_F.begin());
    std::copy(a.Now.begin() + std::ptrdiff_t(half), a.Now.end(), a.X_G.begin());
    a.Start = Step;
}

// Adds the newest column (differences of the residual and of the block
// result from the block before) and its row of the Gram matrix, and keeps
// this block's residual and result for the next.
void Record_Block(Accelerator& a, bool column) {
    const int W = a.Window;
    if (column) {
        a.Newest = (a.Newest + 1) % W;
        a.Columns = std::min(a.Columns + 1, W);
        Field& df = a.dF[std::size_t(a.Newest)];
        Field& dg = a.dG[std::size_t(a.Newest)];
        for (std::size_t c = 0; c < a.Now.size(); ++c) {
            const double r = double(a.Now[c]) - Began(a, c);
            df[c] = float(r - a.F_Old[c]);
            dg[c] = float(double(a.Now[c]) - a.Reached[c]);
        }
        for (int i = 0; i < a.Columns; ++i) {
            const Field& other = a.dF[std::size_t(i)];
            double dot = 0;
            for (std::size_t c = 0; c < df.size(); ++c)
                dot += double(df[c]) * other[c];
            a.Gram[std::size_t(a.Newest * W + i)] = dot;
            a.Gram[std::size_t(i * W + a.Newest)] = dot;
        }
    }
    for (std::size_t c = 0; c < a.Now.size(); ++c)
        a.F_Old[c] = float(double(a.Now[c]) - Began(a, c));
    a.Reached.swap(a.Now);
    a.Have_Old = true;
}

// Solves (A + lambda I) y = b by Gaussian elimination with partial pivoting.
std::vector<double> Solve(std::vector<double> A, std::vector<double> b, int k) {
    for (int p = 0; p < k; ++p) {
        int best = p;
        for (int r = p + 1; r < k; ++r)
            if (std::fabs(A[std::size_t(r * k + p)]) > std::fabs(A[std::size_t(best * k + p)]))
                best = r;
        for (int c = 0; c < k; ++c)
            std::swap(A[std::size_t(p * k + c)], A[std::size_t(best * k + c)]);
        std::swap(b[std::size_t(p)], b[std::size_t(best)]);
        for (int r = p + 1; r < k; ++r) {
            const double l = A[std::size_t(r * k + p)] / A[std::size_t(p * k + p)];
            for (int c = p; c < k; ++c)
                A[std::size_t(r * k + c)] -= l * A[std::size_t(p * k + c)];
            b[std::size_t(r)] -= l * b[std::size_t(p)];
        }
    }
    std::vector<double> y(std::size_t(k), 0.0);
    for (int r = k - 1; r >= 0; --r) {
        double v = b[std::size_t(r)];
        for (int c = r + 1; c < k; ++c)
            v -= A[std::size_t(r * k + c)] * y[std::size_t(c)];
        y[std::size_t(r)] = v / A[std::size_t(r * k + r)];
    }
    return y;
}

// The Anderson coefficients: least squares of the newest residual (F_Old)
// over the residual differences, by the regularised normal equations.
std::vector<double> Coefficients(const Accelerator& a) {
    const int k = a.Columns, W = a.Window;
    std::vector<double> A(std::size_t(k * k)), b(std::size_t(k), 0.0);
    double top = 0;
    for (int i = 0; i < k; ++i)
        top = std::max(top, a.Gram[std::size_t(i * W + i)]);
    for (int i = 0; i < k; ++i) {
        for (int j = 0; j < k; ++j)
            A[std::size_t(i * k + j)] = a.Gram[std::size_t(i * W + j)];
        A[std::size_t(i * k + i)] += Regularisation * top;
        const Field& df = a.dF[std::size_t(i)];
        for (std::size_t c = 0; c < df.size(); ++c)
            b[std::size_t(i)] += double(df[c]) * a.F_Old[c];
    }
    return Solve(std::move(A), std::move(b), k);
}

// The extrapolated state into Now: the newest block result less the
// combination of result differences, in double, rounded to float; false
// where a value would not be a finite float.
bool Extrapolate(Accelerator& a) {
    const std::vector<double> gamma = Coefficients(a);
    bool finite = true;
    std::fenv_t traps;
    std::feholdexcept(&traps);
    for (std::size_t c = 0; c < a.Now.size(); ++c) {
        double x = a.Reached[c];
        for (int i = 0; i < a.Columns; ++i)
            x -= gamma[std::size_t(i)] * a.dG[std::size_t(i)][c];
        a.Now[c] = float(x);
        finite = finite && std::isfinite(a.Now[c]);
    }
    std::feclearexcept(FE_ALL_EXCEPT);
    std::fesetenv(&traps);
    if (++a.Made == a.Poison)
        a.Now[a.Poison_At] = std::numeric_limits<float>::infinity();
    return finite;
}

void Drop_History(Accelerator& a) {
    a.Heat.clear();
    a.Columns = 0;
    a.Newest = -1;
    a.Extrapolated = false;
    a.Have_Old = false;
    a.Last_Norm = 0;
}

// Back to the last state exact steps reached (Reached), or stays there, with
// plain blocks for a while: one after the first failure, then twice as many
// each time.
Block_End Undo(Accelerator& a, int Step, const Accelerated_Fields& s, bool written) {
    if (written)
        Write_State(a, s, a.Reached);
    else
        a.Now = a.Reached, Begin_Block(a, Step);
    Drop_History(a);
    s.Record.Back_Off = 1 << std::min(s.Record.Undone, 10);
    ++s.Record.Undone;
    ++a.Undone_Total;
    a.Last_Extrapolation = Step;
    a.Start = Step;
    return Block_End::Undone;
}

} // namespace

std::uint64_t Accelerator_Bytes(int n, int m, const Accelerator& a) {
    const std::uint64_t vector = 18 * std::uint64_t(Node_Count(n, m)) * sizeof(float);
    // the block's start, the last result, the state now and its residual,
    // the columns, and the moments formed beside the fields
    return vector * std::uint64_t(4 + 2 * a.Window) + 4 * Node_Count(n, m) * sizeof(float);
}

void Prepare_Accelerator(Accelerator& a, int n, int m) {
    const std::size_t half = Half(n, m);
    Allocate_Field(a.X_F, half, "the accelerator's history");
    Allocate_Field(a.X_G, half, "the accelerator's history");
    for (Field* f : {&a.Reached, &a.Now, &a.F_Old})
        Allocate_Field(*f, 2 * half, "the accelerator's history");
    a.dF.resize(std::size_t(a.Window));
    a.dG.resize(std::size_t(a.Window));
    for (int i = 0; i < a.Window; ++i) {
        Allocate_Field(a.dF[std::size_t(i)], 2 * half, "the accelerator's history");
        Allocate_Field(a.dG[std::size_t(i)], 2 * half, "the accelerator's history");
    }
    a.Gram.assign(std::size_t(a.Window * a.Window), 0.0);
    a.Poison_At = Dist(n, 0, n / 2, m / 2); // the rest value of F in the middle
}

void Restart_Accelerator(Accelerator& a) {
    Drop_History(a);
    a.Start = -1; // the state of the next call begins a block
}

namespace {

// Whether the extrapolations have done what they can, by the residual of
// the block just made. A history that has stalled is dropped (the state is
// kept); a second stall in a row ends them.
bool Has_Converged(Accelerator& a, Acceleration_Record& r, double norm) {
    r.Largest = std::max(r.Largest, norm);
    const double rms = norm / std::sqrt(double(a.Now.size()));
    if (norm <= Converged_Fraction * r.Largest || rms <= Floor * (a.Block / 400.0)) {
        r.At_Rest = true;
        return true;
    }
    if (r.Best == 0 || norm < Stall_Fraction * r.Best) {
        r.Best = norm;
        r.Stalled = 0;
        r.Dropped = false;
        return false;
    }
    if (++r.Stalled < std::max(2, Stall_Blocks * 400 / a.Block))
        return false;
    if (r.Dropped)
        return true;
    a.Columns = 0;
    a.Newest = -1;
    r.Stalled = 0;
    r.Dropped = true;
    return false;
}

// The mean temperature of the nodes off the side walls, in double.
double Heat_Content(const Accelerated_Fields& s) {
    double sum = 0;
    for (int j = 0; j <= s.m; ++j)
        for (int i = 1; i < s.n; ++i)
            sum += s.T[Node(s.n, i, j)];
    return sum / (double(s.n - 1) * double(s.m + 1));
}

// Adds Delta to the temperature of every node off the side walls: to G its
// equilibrium at the node's velocity, so that the rest of G stays as it is.
bool Shift_Temperature(Accelerator& a, const Accelerated_Fields& s, double Delta) {
    Read_State(s, a.Now);
    const std::size_t half = Half(s.n, s.m);
    for (int j = 0; j <= s.m; ++j)
        for (int i = 1; i < s.n; ++i) {
            const double u = s.U[Node(s.n, i, j)], v = s.V[Node(s.n, i, j)];
            for (int k = 0; k < 9; ++k) {
                const double eu = Ex[k] * u + Ey[k] * v;
                float& g = a.Now[half + Dist(s.n, k, i, j)];
                g = float(g +
                          Delta * W[k] * (1.0 + 3.0 * eu + 4.5 * eu * eu - 1.5 * (u * u + v * v)));
            }
        }
    return Write_State(a, s, a.Now);
}

// The slowest part of the way to the steady state is the heat content: the
// side walls bring it to its limit over some m^2 / (4 Nu alpha) steps and
// more, and the extrapolations leave it off (by 3e-5 on 56 x 56 at Ra 1e5,
// which Nu feels threefold). Once the extrapolations have ended and it falls
// geometrically, its limit is extrapolated from the last samples and the
// temperature shifted there, once.
Block_End Balance_Heat(Accelerator& a, int Step, const Accelerated_Fields& s) {
    Acceleration_Record& r = s.Record;
    if (r.Balanced || (!a.Heat.empty() && Step - a.Heat_At < a.Heat_Block))
        return Block_End::None;
    if (s.n < 2) { // no node off the side walls
        r.Balanced = true;
        return Block_End::None;
    }
    a.Heat.push_back(Heat_Content(s));
    a.Heat_At = Step;
    if (a.Heat.size() < 4)
        return Block_End::None;
    const double d1 = a.Heat[1] - a.Heat[0], d2 = a.Heat[2] - a.Heat[1], d3 = a.Heat[3] - a.Heat[2];
    a.Heat.erase(a.Heat.begin());
    if (d1 == 0.0 || d2 == 0.0) // (the traps are on)
        return Block_End::None;
    const double before = d2 / d1, ratio = d3 / d2;
    if (!(before > 0.0 && before < Heat_Ratio && ratio > 0.0 && ratio < Heat_Ratio &&
          std::fabs(ratio - before) <= Ratio_Spread))
        return Block_End::None; // not (yet) a steady geometric fall
    const double Delta = d3 * ratio / (1.0 - ratio);
    const double walls =
        std::fabs(double(s.T[Node(s.n, 0, s.m / 2)]) - s.T[Node(s.n, s.n, s.m / 2)]);
    r.Balanced = true;
    if (std::fabs(Delta) <= Heat_Floor * walls || !Shift_Temperature(a, s, Delta))
        return Block_End::None; // nothing changed
    ++r.Shifts;
    ++a.Shifts;
    a.Last_Extrapolation = Step;
    return Block_End::Extrapolated;
}

} // namespace

Block_End Accelerate(Accelerator& a, int Step, const Accelerated_Fields& s) {
    Acceleration_Record& r = s.Record;
    if (r.Converged)
        return Balance_Heat(a, Step, s);
    if (a.Start < 0) {
        Read_State(s, a.Now);
        Begin_Block(a, Step);
        a.Reached = a.Now;
        return Block_End::None;
    }
    if (Step - a.Start < a.Block)
        return Block_End::None;
    Read_State(s, a.Now);
    const double norm = Residual_Norm(a);
    if (a.Extrapolated && !(norm <= a.Last_Norm))
        return Undo(a, Step, s, true);
    Record_Block(a, a.Have_Old);
    a.Last_Norm = norm;
    if (Has_Converged(a, r, norm)) {
        r.Converged = true;
        return Block_End::Converged;
    }
    if (r.Back_Off > 0 || a.Columns == 0) {
        r.Back_Off = std::max(0, r.Back_Off - 1);
        a.Extrapolated = false;
        a.Now = a.Reached;
        Begin_Block(a, Step);
        return Block_End::Plain;
    }
    if (!Extrapolate(a) || !Write_State(a, s, a.Now))
        return Undo(a, Step, s, false);
    a.Extrapolated = true;
    a.Start = Step;
    a.Last_Extrapolation = Step;
    return Block_End::Extrapolated;
}
