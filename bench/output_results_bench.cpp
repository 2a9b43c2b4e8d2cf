// The report step: stream function, Nusselt number, the five file texts and
// their writes, in a scratch directory.
#include "bench_fields.hpp"
#include "results/diagnostics.hpp"
#include "results/result_files.hpp"

#include "scratch_directory.hpp"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

void Set_Node_Rate(benchmark::State& state, int n) {
    state.counters["nodes"] =
        benchmark::Counter(double(Node_Count(n, n)), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Output_Results(benchmark::State& state) {
    const int n = int(state.range(0));
    Bench_Fields f(n, n);
    Scratch_Directory scratch;
    float Nu_Hot = 0.0f;
    for (auto _ : state) {
        Output_Results(f.n, f.m, f.T_Hot, f.U_Ref, f.Rho, f.U, f.V, f.T, Nu_Hot);
        benchmark::DoNotOptimize(Nu_Hot);
    }
    Set_Node_Rate(state, n);
}
BENCHMARK(BM_Output_Results)
    ->Arg(40)
    ->Arg(64)
    ->Arg(100)
    ->Arg(128)
    ->Arg(256)
    ->Arg(512)
    ->Arg(1024)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime(); // the writes count, not only the processor time

// The text of "Result.dat" alone, without the stream function and the write.
void BM_Result_Text(benchmark::State& state) {
    const int n = int(state.range(0));
    Bench_Fields f(n, n);
    Field Stream(Node_Count(n, n));
    Compute_Stream(f.n, f.m, f.Rho, f.U, f.V, Stream);
    std::string text;
    for (auto _ : state) {
        Result_Text(f.n, f.m, f.U_Ref, f.Rho, f.U, f.V, f.T, Stream, text);
        benchmark::DoNotOptimize(text.data());
    }
    Set_Node_Rate(state, n);
}
BENCHMARK(BM_Result_Text)->Arg(40)->Arg(100)->Arg(512)->Unit(benchmark::kMillisecond);

} // namespace
