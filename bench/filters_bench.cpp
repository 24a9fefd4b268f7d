// IIR filter throughput on a 4-minute mono song at 22050 Hz, with the three
// band operations the analysis runs. items_per_second counts samples.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "dsp/ButterFilter.h"
#include "dsp/EllipticalFilter.h"
#include "dsp/SignalObj.h"

namespace {

constexpr int32_t kRate = 22050;

void fillSong(SignalObj& s) {
    s.CreateBuffer(kRate * 240, kRate, false);
    std::mt19937 gen(42);
    std::uniform_int_distribution<int> noise(-3000, 3000);
    for (int32_t i = 0; i < s.length; ++i)
        s.data[i] = static_cast<int16_t>(12000 * std::sin(2 * M_PI * 110.0 * i / kRate) + noise(gen));
}

template <typename F, typename Op>
void runFilter(benchmark::State& st, Op op) {
    SignalObj song;
    fillSong(song);
    std::vector<int16_t> out(song.length);
    for (auto _ : st) {
        F f;
        f.Bind(&song, out.data());
        op(f);  // designs, then filters the whole song
        benchmark::ClobberMemory();
    }
    st.SetItemsProcessed(static_cast<int64_t>(st.iterations()) * song.length);
}

void BM_EllipticalLowPass150(benchmark::State& st) {
    runFilter<EllipticalFilter>(st, [](EllipticalFilter& f) { f.LowPass(150.0, 0.5); });
}
void BM_ButterBandPass2000(benchmark::State& st) {
    runFilter<ButterFilter>(st, [](ButterFilter& f) { f.BandPass(2000.0, 600.0, 0.0); });
}
void BM_ButterLowPass150(benchmark::State& st) {
    runFilter<ButterFilter>(st, [](ButterFilter& f) { f.LowPass(150.0, 0.0); });
}

}  // namespace

BENCHMARK(BM_EllipticalLowPass150)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ButterBandPass2000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ButterLowPass150)->Unit(benchmark::kMillisecond);
