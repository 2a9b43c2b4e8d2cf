// The checkpoint: its write at a report against the 50 time steps before it,
// the write alone at each grid, and the checksum.
#include "driver/checkpoint_links.hpp"
#include "restart/checksum.hpp"
#include "setup/initialize.hpp"
#include "setup/parameters.hpp"

#include "scratch_directory.hpp"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A run of the program's fast procedures some steps from rest, with
// checkpoints at every report into the scratch directory.
struct Bench_Run {
    int n, m;
    Physical_Parameters p{0.71f, 1e5f, 1.0f, 0.0f, 0.0f, 0.6f};
    Derived_Constants d;
    float Nu_Hot = 1.0f, Residual_T = 0, Residual_Flow = 0;
    bool Flow_At_Rest = false;
    Field U, V, F, Feq, Rho, G, T, V_Old, T_Old, U_Old;
    Stepping steps;
    Run_Monitor monitor;
    Checkpointing keep;
    Scheme scheme;
    // clang-format off
    Run_State state{n, m, scheme, p, Nu_Hot, Residual_T, Residual_Flow, Rho, U, V, T, U_Old,
                    V_Old, T_Old, Checkpoint_Links(steps, monitor, n, F, G)};
    // clang-format on

    explicit Bench_Run(int size, int threads = 1) : n(size), m(size), d(Derive_Constants(p, m)) {
        for (Field* f : {&U, &V, &Rho, &T, &V_Old, &T_Old, &U_Old})
            f->assign(Node_Count(n, m), 0.0f);
        for (Field* f : {&F, &Feq, &G})
            f->assign(9 * Node_Count(n, m), 0.0f);
        Initial_State(n, m, p.T_Hot, p.T_Cold, p.T_Init, Rho, U, V, F, Feq, T, G, U_Old, V_Old,
                      T_Old);
        Prepare_Stepping(steps, Solver::Fast, n, m, threads, F, Feq, G);
        Run_Options options;
        options.Checkpoint_File = "bench.ckpt";
        options.Checkpoint_Every = 50; // one at every call, not paced
        Begin_From_Files(options, state, keep);
        for (int k = 0; k < 100; ++k)
            Record_Report(monitor, 1.0f);
        Steps(size <= 128 ? 200 : 20);
    }

    void Steps(int count) {
        for (int s = 0; s < count; ++s) {
            Time_Step(steps, n, m, d.T_Ref, d.G_Beta, Rho, U, V, d.Tau_F, F, Feq, T, p.Tau_T, G,
                      p.T_Hot, p.T_Cold, U_Old, V_Old, T_Old);
            Residuals(steps, n, m, Residual_Flow, Residual_T, U, V, T, U_Old, V_Old, T_Old, false,
                      Flow_At_Rest);
        }
    }
};

// 50 time steps as the program makes them between reports, then the
// checkpoint of the report; counters: the milliseconds of each and the
// checkpoint's share of the steps (at every report, and at every 5000
// steps), measured side by side so that a busy machine slows both alike; the
// steps on one or two threads. The checkpoint is flushed to the disk, so its
// time is that of the disk under the scratch folder.
void BM_Checkpoint_Against_Steps(benchmark::State& state) {
    Scratch_Directory scratch;
    Bench_Run run(int(state.range(0)), int(state.range(1)));
    Clock::duration steps{}, checkpoint{};
    for (auto _ : state) {
        auto t0 = Clock::now();
        run.Steps(50);
        auto t1 = Clock::now();
        Keep_Checkpoint(run.keep, 50, run.state);
        steps += t1 - t0;
        checkpoint += Clock::now() - t1;
    }
    const double k = 1e3 / double(state.iterations());
    const double s_ms = std::chrono::duration<double>(steps).count() * k;
    const double c_ms = std::chrono::duration<double>(checkpoint).count() * k;
    state.counters["steps_ms"] = s_ms;
    state.counters["checkpoint_ms"] = c_ms;
    state.counters["share_pct"] = 100.0 * c_ms / s_ms;
    // With --checkpoint-every 5000: one checkpoint in a hundred reports.
    state.counters["share_5000_pct"] = c_ms / s_ms;
}
BENCHMARK(BM_Checkpoint_Against_Steps)
    ->Args({256, 1})
    ->Args({256, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5);

// The write alone: the rows out of the step's storage, the checksum, the
// file replaced.
void BM_Keep_Checkpoint(benchmark::State& state) {
    Scratch_Directory scratch;
    Bench_Run run(int(state.range(0)));
    for (auto _ : state)
        Keep_Checkpoint(run.keep, 50, run.state);
    state.SetBytesProcessed(std::int64_t(state.iterations()) *
                            std::int64_t(fs::file_size("bench.ckpt")));
}
BENCHMARK(BM_Keep_Checkpoint)
    ->Arg(64)
    ->Arg(128)
    ->Arg(256)
    ->Arg(512)
    ->Arg(1024)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_Crc32(benchmark::State& state) {
    std::string bytes(std::size_t(state.range(0)), '\x5a');
    for (auto _ : state)
        benchmark::DoNotOptimize(Crc32(0, bytes.data(), bytes.size()));
    state.SetBytesProcessed(std::int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Crc32)->Arg(1 << 20);

void BM_Crc32_By_Tables(benchmark::State& state) {
    std::string bytes(std::size_t(state.range(0)), '\x5a');
    for (auto _ : state)
        benchmark::DoNotOptimize(Crc32_By_Tables(0, bytes.data(), bytes.size()));
    state.SetBytesProcessed(std::int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Crc32_By_Tables)->Arg(1 << 20);

} // namespace
