#include "step/time_step.hpp"

#include "flow/flow_step.hpp"
#include "process/run_time.hpp"
#include "results/residuals.hpp"
#include "results/residuals_fast.hpp"
#include "step/fast_step.hpp"
#include "thermal/thermal_step.hpp"

#include <algorithm>
#include <atomic>
#include <cfenv>
#include <stdexcept>
#include <string>
#include <system_error>

namespace {

// Sizes one copy of a distribution; a failure names it as a failed field
// array would be named.
void Allocate_Rows(Distribution_Rows& rows, int n, int m, const char* name) {
    try {
        rows.Resize(n, m);
    } catch (const std::exception&) {
        const std::size_t floats = 9 * Plane_Stride(n + 1) * (std::size_t(m) + 1) + 16;
        throw Run_Time_Error(std::string("run-time error: cannot allocate ") + name + " (" +
                             std::to_string(floats * sizeof(float)) + " bytes): out of memory");
    }
}

// Moves a distribution from a field array into rows, one array at a time,
// so that the run never holds both layouts of more than one.
void Take_Over(Field& field, Distribution_Rows& rows, int n, int m, const char* name) {
    Allocate_Rows(rows, n, m, name);
    Rows_From_Nodes(field.data(), 0, m + 1, rows);
    Field().swap(field);
}

// Bands of rows as even as whole rows allow, two rows at least each, so
// that the insulated walls' rows 0, 1 and m - 1, m share a band.
void Split_Rows(Stepping& s, int threads) {
    const int rows = s.m + 1;
    const int bands = std::clamp(threads, 1, std::max(1, rows / 2));
    s.bands.resize(std::size_t(bands));
    for (int b = 0; b < bands; ++b) {
        Band_Rows& band = s.bands[std::size_t(b)];
        band.first = int(std::int64_t(rows) * b / bands);
        band.last = int(std::int64_t(rows) * (b + 1) / bands) - 1;
        band.Size_For(s.n);
    }
}

// Puts the fast step on `count` threads: the team restarted with as many
// and the rows split again. Threads that cannot be started leave the run on
// one, and on one it stays.
void Use_Threads(Stepping& s, int count) {
    s.threads.Stop();
    Split_Rows(s, count);
    try {
        s.threads.Start(int(s.bands.size()));
    } catch (const std::system_error&) {
        Split_Rows(s, 1);
        s.threads.Start(1);
        s.choice.most = 1;
    }
    s.choice.in_use = s.threads.Count();
    s.threads.Take_Barrier_Waits();
}

// Rows j0 .. j1 - 1 of a distribution and of the node fields, from one set
// of arrays to another.
void Copy_Rows(int j0, int j1, Distribution_Rows& from, Distribution_Rows& to) {
    const std::size_t row = 9 * from.stride;
    std::copy(from.Row(j0).base, from.Row(j0).base + row * std::size_t(j1 - j0), to.Row(j0).base);
}
void Copy_Rows(int n, int j0, int j1, const Field& from, Field& to) {
    std::copy(from.begin() + std::ptrdiff_t(Node(n, 0, j0)),
              from.begin() + std::ptrdiff_t(Node(n, 0, j1)),
              to.begin() + std::ptrdiff_t(Node(n, 0, j0)));
}

// The step on the straightforward procedures, with the traps on. They need
// the distributions in field order: the saved copies' storage holds them,
// and Feq is obtained for the step (it is the only array the run did not
// hold yet). If no trap ends the run, the result becomes the fast path's.
void Rerun_Straightforward(Stepping& s, const Step_Fields& a) {
    const int n = s.n, m = s.m;
    Fast_Distributions& d = s.fast;
    d.steps_since_saved = -1; // the saved copies are overwritten here
    Field& F = d.F_Saved.Field_Order();
    Field& G = d.G_Saved.Field_Order();
    Nodes_From_Rows(d.F, 0, m + 1, F.data());
    Nodes_From_Rows(d.G, 0, m + 1, G.data());
    Field& Feq = s.redo_Feq;
    Allocate_Field(Feq, 9 * Node_Count(n, m), "Feq");
    Flow_Step(n, m, a.T_Ref, a.G_Beta, a.Rho, a.U, a.V, a.Tau_F, F, Feq, a.T);
    Thermal_Step(n, m, a.Tau_T, a.U, a.V, a.T, G, a.T_Hot, a.T_Cold, s.scheme);
    Field().swap(Feq);
    Rows_From_Nodes(F.data(), 0, m + 1, d.F);
    Rows_From_Nodes(G.data(), 0, m + 1, d.G);
}

} // namespace

void Save_State(Stepping& s, const Step_Fields& a) {
    Fast_Distributions& d = s.fast;
    s.threads.Run([&](int b) {
        const int j0 = s.bands[std::size_t(b)].first, j1 = s.bands[std::size_t(b)].last + 1;
        Copy_Rows(j0, j1, d.F, d.F_Saved);
        Copy_Rows(j0, j1, d.G, d.G_Saved);
        Copy_Rows(s.n, j0, j1, a.Rho, d.Rho_Saved);
        Copy_Rows(s.n, j0, j1, a.U, d.U_Saved);
        Copy_Rows(s.n, j0, j1, a.V, d.V_Saved);
        Copy_Rows(s.n, j0, j1, a.T, d.T_Saved);
    });
    d.steps_since_saved = 0;
}

void Redo_Step(Stepping& s, const Step_Fields& a) {
    Fast_Distributions& d = s.fast;
    const int steps = d.steps_since_saved;
    Copy_Rows(0, s.m + 1, d.F_Saved, d.F);
    Copy_Rows(0, s.m + 1, d.G_Saved, d.G);
    a.Rho = d.Rho_Saved;
    a.U = d.U_Saved;
    a.V = d.V_Saved;
    a.T = d.T_Saved;
    for (int step = 0; step < steps; ++step)
        if (Fast_Step(s, a) != 0) // the same step went through before
            throw std::logic_error("internal error: a time step that went through faulted when "
                                   "it was repeated; please report it with the grid and the "
                                   "parameter file");
    Rerun_Straightforward(s, a);
}

int Step_Threads(int n, int m, int requested) {
    const int wanted = requested > 0 ? requested : Threads_That_Pay(n, m, Thread_Count(0));
    return std::clamp(wanted, 1, std::max(1, (m + 1) / 2));
}

int Threads_That_Pay(int n, int m, int available) {
    const std::uint64_t nodes = Node_Count(n, m);
    const std::uint64_t pay = std::max<std::uint64_t>(1, nodes / Min_Nodes_A_Thread);
    return int(std::clamp<std::uint64_t>(pay, 1, std::uint64_t(std::max(1, available))));
}

void Prepare_Stepping(Stepping& s, Solver solver, int n, int m, int threads, Field& F, Field& Feq,
                      Field& G) {
    s.solver = solver;
    s.n = n;
    s.m = m;
    Start_Choice(s.choice, 1, false, {});
    if (solver != Solver::Fast)
        return;
    Field().swap(Feq); // nothing reads it
    Take_Over(F, s.fast.F, n, m, "F");
    Take_Over(G, s.fast.G, n, m, "G");
    Allocate_Rows(s.fast.F_Saved, n, m, "F");
    Allocate_Rows(s.fast.G_Saved, n, m, "G");
    const std::size_t nodes = Node_Count(n, m);
    Allocate_Field(s.fast.Rho_Saved, nodes, "Rho");
    Allocate_Field(s.fast.U_Saved, nodes, "U");
    Allocate_Field(s.fast.V_Saved, nodes, "V");
    Allocate_Field(s.fast.T_Saved, nodes, "T");
    s.fast.steps_since_saved = -1;
    s.row_sums.assign(std::size_t(m) + 1, Residual_Sums{0, 0, 0, 0});
    Split_Rows(s, threads);
    try {
        s.threads.Start(int(s.bands.size()));
    } catch (const std::system_error& e) {
        throw Run_Time_Error("run-time error: cannot start " + std::to_string(s.bands.size()) +
                             " threads for the time step: " + e.code().message() +
                             "; --threads N sets fewer");
    }
    Start_Choice(s.choice, int(s.bands.size()), false, {});
}

void Adapt_Threads(Stepping& s, const std::vector<int>& plan) {
    if (s.solver != Solver::Fast)
        return;
    Start_Choice(s.choice, int(s.bands.size()), true, plan);
    if (s.choice.in_use != s.threads.Count())
        Use_Threads(s, s.choice.in_use);
    s.queued_at_report = Queued_Nanoseconds();
    s.report_time = std::chrono::steady_clock::now();
}

void Threads_At_Report(Stepping& s) {
    Thread_Choice& c = s.choice;
    if (s.solver != Solver::Fast || c.most < 2)
        return;
    const auto now = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(now - s.interval_start).count();
    const double waits = 1e-9 * double(s.threads.Take_Barrier_Waits());
    // Read once a report, over the time from the last one (its work too).
    const std::int64_t queued = c.adaptive ? Queued_Nanoseconds() : -1;
    const double since = std::chrono::duration<double>(now - s.report_time).count();
    const double queued_share = queued >= 0 && s.queued_at_report >= 0 && since > 0.0
                                    ? 1e-9 * double(queued - s.queued_at_report) / since
                                    : 0.0;
    s.queued_at_report = queued;
    s.report_time = now;
    const int before = c.in_use;
    if (s.interval_steps > 0 && seconds > 0.0)
        Choose_Threads(c, seconds / s.interval_steps, waits / (seconds * before), queued_share);
    if (c.in_use != before)
        Use_Threads(s, c.in_use);
    s.interval_steps = 0;
}

void Restart_Report_Interval(Stepping& s) {
    s.interval_steps = 0;
    s.queued_at_report = -1; // the wait is no time of the steps
    s.threads.Take_Barrier_Waits();
}

void Time_Step(Stepping& s, int n, int m, float T_Ref, float G_Beta, Field& Rho, Field& U, Field& V,
               float Tau_F, Field& F, Field& Feq, Field& T, float Tau_T, Field& G, float T_Hot,
               float T_Cold, const Field&, const Field&, const Field&) {
    if (s.solver != Solver::Fast) {
        Flow_Step(n, m, T_Ref, G_Beta, Rho, U, V, Tau_F, F, Feq, T);
        Thermal_Step(n, m, Tau_T, U, V, T, G, T_Hot, T_Cold, s.scheme);
        return;
    }
    const Step_Fields a{T_Ref, G_Beta, Tau_F, Tau_T, T_Hot, T_Cold, Rho, U, V, T};
    if (s.interval_steps++ == 0)
        s.interval_start = std::chrono::steady_clock::now();
    ++s.choice.steps[std::size_t(s.threads.Count())];
    int& since = s.fast.steps_since_saved;
    if (since < 0 || since >= Save_Interval)
        Save_State(s, a);
    if (Fast_Step(s, a) == 0)
        ++since;
    else
        Redo_Step(s, a);
}

void Residuals(Stepping& s, int n, int m, float& Residual_Flow, float& Residual_T, const Field& U,
               const Field& V, const Field& T, Field& U_Old, Field& V_Old, Field& T_Old,
               bool printed, bool& Flow_At_Rest) {
    float Norm_Flow = Norm_Start;
    if (s.solver != Solver::Fast) {
        Compute_Residuals(n, m, Residual_Flow, Residual_T, U, V, T, U_Old, V_Old, T_Old, Norm_Flow);
        Flow_At_Rest = Norm_Flow == Norm_Start;
        return;
    }
    // Threads pay here on larger grids only: the residuals are light work.
    if (printed || Node_Count(n, m) < 4 * Min_Nodes_A_Thread * s.bands.size()) {
        Compute_Residuals_Fast(n, m, Residual_Flow, Residual_T, U, V, T, U_Old, V_Old, T_Old,
                               printed, Norm_Flow);
        Flow_At_Rest = Norm_Flow == Norm_Start;
        return;
    }
    // The sums of each row on the threads of the step, added in row order;
    // with the traps held, as all work on the threads is, so that a trap
    // lands on the calling thread only (where it raised, the one-thread
    // procedure below meets the fault in its own order).
    std::atomic<int> raised{0};
    s.threads.Run([&](int b) {
        std::fenv_t traps;
        std::feholdexcept(&traps);
        const Band_Rows& band = s.bands[std::size_t(b)];
        for (int j = band.first; j <= band.last; ++j)
            s.row_sums[std::size_t(j)] =
                Residual_Sums_Of(n, j, j + 1, U, V, T, U_Old, V_Old, T_Old);
        const int flags = std::fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
        std::fesetenv(&traps);
        raised.fetch_or(flags, std::memory_order_relaxed);
    });
    Residual_Sums all{0, 0, 0, 0};
    for (const Residual_Sums& r : s.row_sums) {
        all.num_flow += r.num_flow;
        all.den_flow += r.den_flow;
        all.num_t += r.num_t;
        all.den_t += r.den_t;
    }
    if (raised.load(std::memory_order_relaxed) != 0 ||
        !Residuals_From_Sums(n, m, all, Residual_Flow, Residual_T)) {
        Compute_Residuals(n, m, Residual_Flow, Residual_T, U, V, T, U_Old, V_Old, T_Old, Norm_Flow);
        Flow_At_Rest = Norm_Flow == Norm_Start;
        return;
    }
    Flow_At_Rest = Norm_Flow_Estimate(all) == Norm_Start;
    s.threads.Run([&](int b) {
        const Band_Rows& band = s.bands[std::size_t(b)];
        const std::size_t from = Node(n, 0, band.first), to = Node(n, 0, band.last + 1);
        for (auto [now, old] : {std::pair{&U, &U_Old}, {&V, &V_Old}, {&T, &T_Old}})
            std::copy(now->begin() + std::ptrdiff_t(from), now->begin() + std::ptrdiff_t(to),
                      old->begin() + std::ptrdiff_t(from));
    });
}

Shares Report_Shares(Stepping& s) {
    if (s.solver != Solver::Fast || s.choice.most < 2)
        return Shares();
    return [&s](const std::function<void(int, int)>& work) {
        const int count = s.threads.Count();
        s.threads.Run([&](int t) { work(t, count); });
    };
}

void Copy_Distributions_Out(const Stepping& s, int n, int j0, int j1, const Field& F,
                            const Field& G, float* F_rows, float* G_rows) {
    if (s.solver == Solver::Fast) {
        Fast_Distributions& fast = const_cast<Fast_Distributions&>(s.fast); // rows only read
        Nodes_From_Rows(fast.F, j0, j1, F_rows);
        Nodes_From_Rows(fast.G, j0, j1, G_rows);
        return;
    }
    const std::size_t from = Dist(n, 0, 0, j0), to = Dist(n, 0, 0, j1);
    std::copy(F.begin() + std::ptrdiff_t(from), F.begin() + std::ptrdiff_t(to), F_rows);
    std::copy(G.begin() + std::ptrdiff_t(from), G.begin() + std::ptrdiff_t(to), G_rows);
}

void Copy_Distributions_In(Stepping& s, int n, int j0, int j1, const float* F_rows,
                           const float* G_rows, Field& F, Field& G) {
    if (s.solver == Solver::Fast) {
        Rows_From_Nodes(F_rows, j0, j1, s.fast.F);
        Rows_From_Nodes(G_rows, j0, j1, s.fast.G);
        s.fast.steps_since_saved = -1;
        return;
    }
    const std::size_t from = Dist(n, 0, 0, j0), count = Dist(n, 0, 0, j1) - from;
    std::copy(F_rows, F_rows + count, F.begin() + std::ptrdiff_t(from));
    std::copy(G_rows, G_rows + count, G.begin() + std::ptrdiff_t(from));
}
