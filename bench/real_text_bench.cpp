// The text of one single-precision real.
#include "bench_fields.hpp"
#include "textio/real_text.hpp"

#include <benchmark/benchmark.h>
#include <bit>
#include <cstdint>
#include <random>
#include <vector>

namespace {

// The values of the seven columns of a report on a 100 x 100 grid.
std::vector<float> Report_Values() {
    Bench_Fields f(100, 100);
    std::vector<float> values;
    for (int j = 0; j <= f.m; ++j)
        for (int i = 0; i <= f.n; ++i) {
            std::size_t c = Node(f.n, i, j);
            values.push_back(float(double(i) / double(f.m)));
            values.push_back(float(double(j) / double(f.m)));
            values.push_back(float(double(f.U[c]) / f.U_Ref));
            values.push_back(float(double(f.V[c]) / f.U_Ref));
            values.push_back(float(double(f.Rho[c]) / 3.0));
            values.push_back(f.T[c]);
            values.push_back(f.U[c] * 10.0f); // stands in for the stream function
        }
    return values;
}

// Any finite float, every binade equally likely.
std::vector<float> Any_Values() {
    std::mt19937 rng(99);
    std::vector<float> values;
    while (values.size() < 70000) {
        std::uint32_t bits = rng();
        if ((bits & 0x7f800000u) != 0x7f800000u)
            values.push_back(std::bit_cast<float>(bits));
    }
    return values;
}

void Run(benchmark::State& state, const std::vector<float>& values) {
    char buf[32];
    for (auto _ : state) {
        for (float x : values) {
            benchmark::DoNotOptimize(textio::Real_Text(x, buf));
            benchmark::ClobberMemory();
        }
    }
    state.SetItemsProcessed(std::int64_t(state.iterations()) * std::int64_t(values.size()));
    state.counters["per_real"] =
        benchmark::Counter(double(values.size()), benchmark::Counter::kIsIterationInvariantRate |
                                                      benchmark::Counter::kInvert);
}

void BM_Real_Text(benchmark::State& state) {
    static const std::vector<float> values = Report_Values();
    Run(state, values);
}
BENCHMARK(BM_Real_Text);

// The slots of the same values, eight at a time.
void BM_Real_Slots(benchmark::State& state) {
    static const std::vector<float> values = Report_Values();
    std::vector<char> out(values.size() * textio::Real_Slot_Width);
    for (auto _ : state) {
        textio::Real_Slots(values.data(), int(values.size()), out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(std::int64_t(state.iterations()) * std::int64_t(values.size()));
    state.counters["per_real"] =
        benchmark::Counter(double(values.size()), benchmark::Counter::kIsIterationInvariantRate |
                                                      benchmark::Counter::kInvert);
}
BENCHMARK(BM_Real_Slots);

void BM_Real_Text_Any_Float(benchmark::State& state) {
    static const std::vector<float> values = Any_Values();
    Run(state, values);
}
BENCHMARK(BM_Real_Text_Any_Float);

} // namespace
