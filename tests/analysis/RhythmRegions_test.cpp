#include "analysis/RhythmRegions.h"

#include <gtest/gtest.h>

#include <vector>

#include "dsp/FFTObj.h"
#include "dsp/SignalObj.h"
#include "support/Signals.h"

namespace {

constexpr int32_t kRate = 22050;

std::vector<int16_t> operator+(std::vector<int16_t> a, const std::vector<int16_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Four two-bar blocks at 120 beats per minute (4 s each) in percent of the
// step's spectral frames of this signal.
double fourBlocks(SignalObj& signal) {
    FFTObj fft;
    fft.SetSignal(&signal);
    fft.SetFrameSize(2048);
    fft.Compute(fft.BeatOverlap(120.0));
    return 4.0 * (4000.0 / fft.HopDuration()) * 100.0 / fft.FrameCount();
}

}  // namespace

// At 120 beats per minute a two-bar block lasts 4 s. Four copies of one such
// block of noise cover four block lengths of the song; the fresh noise after
// them repeats nothing.
TEST(RhythmRegions, RepeatedBlocksAreCovered) {
    const auto block = test::noise(kRate, 4.0, 10000.0, 5);
    const auto repeated = block + block + block + block;
    auto plain = test::signalOf(repeated + test::noise(kRate, 8.0, 10000.0, 6), kRate);

    const RhythmRegions r = ComputeRhythmRegions(*plain, 120.0);
    EXPECT_NEAR(r.coverage, fourBlocks(*plain), 1.0);
    ASSERT_EQ(r.runs.size(), 1u);
    const auto& run = static_cast<const RSRegion&>(*r.runs[0]);
    EXPECT_EQ(run.Count(), 4);
    EXPECT_NEAR(run.Period(), 4000.0, 70.0);
    EXPECT_NEAR(run.Length(), 16000.0, 280.0);
    EXPECT_EQ(r.segments, 4);
    EXPECT_EQ(ComputeRhythmRegions(*plain, 0.0).coverage, 0.0);

    // A steady tone ahead of the blocks matches itself at every lag, closer
    // than a bar: the search must start afresh past it and still find them.
    auto afterTone =
        test::signalOf(test::sine(440.0, kRate, 6.0, 10000.0) + repeated + test::noise(kRate, 6.0, 10000.0, 7), kRate);
    const RhythmRegions t = ComputeRhythmRegions(*afterTone, 120.0);
    EXPECT_NEAR(t.coverage, fourBlocks(*afterTone), 1.0);
}
