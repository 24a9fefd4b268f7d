// Resampler throughput on a 4-minute mono song, converted in one call as
// SignalObj::ChangeRate does: the reference per-tap loop, the coefficient-row
// path with a plain dot product, and the same with the vector dot product.
// items_per_second counts input samples.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "dsp/Resampler.h"

namespace {

std::vector<int16_t> song(int32_t rate) {
    const size_t n = static_cast<size_t>(rate) * 240;
    std::vector<int16_t> x(n);
    std::mt19937 gen(42);
    std::uniform_int_distribution<int> noise(-3000, 3000);
    for (size_t i = 0; i < n; ++i)
        x[i] = static_cast<int16_t>(12000 * std::sin(2 * M_PI * 440.0 * double(i) / rate) + noise(gen));
    return x;
}

void convertSong(benchmark::State& st, int32_t inRate, int32_t outRate) {
    const auto path = static_cast<Resampler::Path>(st.range(0));
    const std::vector<int16_t> in = song(inRate);
    const double factor = double(outRate) / inRate;
    const auto wanted = static_cast<int32_t>(in.size() * factor);
    std::vector<int16_t> out(static_cast<size_t>(wanted) + 2);
    for (auto _ : st) {
        Resampler r;
        r.SetPath(path);
        r.SetUp(factor, 1, 1.0);
        int32_t count = static_cast<int32_t>(in.size());
        benchmark::DoNotOptimize(r.Convert(in.data(), count, wanted, out.data()));
        benchmark::ClobberMemory();
    }
    st.SetItemsProcessed(static_cast<int64_t>(st.iterations()) * static_cast<int64_t>(in.size()));
    st.SetLabel(path == Resampler::Path::Fast       ? Resampler::FastPathName()
                : path == Resampler::Path::Portable ? "portable"
                                                    : "reference");
}

void BM_Resample_44100_22050(benchmark::State& st) { convertSong(st, 44100, 22050); }
void BM_Resample_48000_22050(benchmark::State& st) { convertSong(st, 48000, 22050); }
void BM_Resample_48000_44100(benchmark::State& st) { convertSong(st, 48000, 44100); }
void BM_Resample_22050_44100(benchmark::State& st) { convertSong(st, 22050, 44100); }

constexpr int kReference = static_cast<int>(Resampler::Path::Reference);
constexpr int kPortable = static_cast<int>(Resampler::Path::Portable);
constexpr int kFast = static_cast<int>(Resampler::Path::Fast);

}  // namespace

BENCHMARK(BM_Resample_44100_22050)->Arg(kReference)->Arg(kPortable)->Arg(kFast)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Resample_48000_22050)->Arg(kReference)->Arg(kPortable)->Arg(kFast)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Resample_48000_44100)->Arg(kReference)->Arg(kPortable)->Arg(kFast)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Resample_22050_44100)->Arg(kReference)->Arg(kPortable)->Arg(kFast)->Unit(benchmark::kMillisecond);
