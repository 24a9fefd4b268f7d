// The framed spectra of the analysis on 60 s of a mono song at 22050 Hz:
// each FFT framing the pipeline runs (frame size, window, overlap) and the
// two LPC envelopes. items_per_second counts frames.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>

#include "analysis/LPCObj.h"
#include "dsp/FFTObj.h"
#include "dsp/SignalObj.h"

namespace {

constexpr int32_t kRate = 22050;

SignalObj& song() {
    static SignalObj s;
    if (s.data == nullptr) {
        s.CreateBuffer(kRate * 60, kRate, false);
        std::mt19937 gen(42);
        std::uniform_int_distribution<int> noise(-3000, 3000);
        for (int32_t i = 0; i < s.length; ++i)
            s.data[i] = static_cast<int16_t>(12000 * std::sin(2 * M_PI * 110.0 * i / kRate) + noise(gen));
    }
    return s;
}

// Args: frame size, window (0 rectangular, 1 Hamming), overlap in percent.
void BM_Spectrum(benchmark::State& st) {
    SignalObj* s = &song();
    const auto window = st.range(1) ? FrameData::kHammingWindow : FrameData::kRectangular;
    int64_t frames = 0;
    for (auto _ : st) {
        FFTObj fft;
        fft.ComputeOn(s, static_cast<int32_t>(st.range(0)), window, st.range(2) / 100.0);
        frames += fft.FrameCount();
    }
    st.SetItemsProcessed(frames);
}
BENCHMARK(BM_Spectrum)
    ->Args({512, 0, 0})
    ->Args({512, 1, 50})
    ->Args({1024, 1, 50})
    ->Args({2048, 1, 75})
    ->Args({4096, 1, 50})
    ->Unit(benchmark::kMillisecond);

// Args: order, bins, overlap in percent (frames of 4096 samples).
void BM_LPC(benchmark::State& st) {
    SignalObj* s = &song();
    int64_t frames = 0;
    for (auto _ : st) {
        LPCObj lpc;
        lpc.ComputeOn(s, static_cast<int32_t>(st.range(0)), 4096, static_cast<int32_t>(st.range(1)), st.range(2) / 100.0);
        frames += lpc.FrameCount();
    }
    st.SetItemsProcessed(frames);
}
BENCHMARK(BM_LPC)->Args({100, 512, 0})->Args({340, 2048, 30})->Unit(benchmark::kMillisecond);

}  // namespace
