#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "analysis/AnalysisResults.h"
#include "analysis/BandChanges.h"
#include "analysis/SpectralSegments.h"
#include "analysis/SongObj.h"
#include "dsp/FFTObj.h"
#include "dsp/SpectralStatistics.h"
#include "support/Signals.h"

namespace {

constexpr int32_t kRate = 22050;

// Ten seconds of 2100-2600 Hz noise (tones 25 Hz apart, seeded phases) and
// ten of a 500 Hz tone, in either order.
std::vector<int16_t> busyThenQuiet(bool busyFirst) {
    std::mt19937 gen(7);
    std::vector<int16_t> busy(10 * kRate, 0);
    for (int32_t hz = 2100; hz <= 2600; hz += 25) {
        const auto tone = test::sine(hz, kRate, 10.0, 1500.0, gen() / 4294967296.0 * 2.0 * M_PI);
        for (size_t i = 0; i < busy.size(); ++i) busy[i] = int16_t(busy[i] + tone[i]);
    }
    auto x = test::sine(500.0, kRate, 10.0, 16000.0);
    x.insert(busyFirst ? x.begin() : x.end(), busy.begin(), busy.end());
    return x;
}

}  // namespace

TEST(SpectralSegments, BusyShareInEitherOrderWhateverTheAccumulatorHolds) {
    for (bool busyFirst : {true, false}) {
        SCOPED_TRACE(busyFirst);
        auto song = test::songOf(busyThenQuiet(busyFirst), kRate);
        const SpectralSegments clean = ComputeSpectralSegments(*song);
        EXPECT_NEAR(clean.busyShare, 0.5, 0.05);
        EXPECT_GT(clean.busyDensity, 0.5);
        EXPECT_GT(clean.wideBandFill, 0.0);
        gDensityAccumulator.sum = 123.0, gDensityAccumulator.count = 4;  // an earlier walk
        const SpectralSegments dirty = ComputeSpectralSegments(*song);
        EXPECT_EQ(dirty.busyShare, clean.busyShare);
        EXPECT_EQ(dirty.busyDensity, clean.busyDensity);
        EXPECT_EQ(dirty.wideBandFill, clean.wideBandFill);
        song->RunStep(8);  // the record keeps the product
        EXPECT_EQ(song->Features()[kBusyDensityShare], clean.busyShare * clean.busyDensity);
    }
    auto quiet = test::songOf(test::sine(500.0, kRate, 20.0, 16000.0), kRate);
    EXPECT_EQ(ComputeSpectralSegments(*quiet).busyShare, 0.0);
}

TEST(BandChanges, SteadyToneAndNoiseBursts) {
    auto tone = test::songOf(test::sine(440.0, kRate, 20.0, 16000.0), kRate);
    const BandChanges steady = ComputeBandChanges(tone->NoteSpectrum(), tone->GetDurationMs());
    EXPECT_LT(steady.changeShare / kChangeShareFactor, 1.0);  // percent of audible bands
    EXPECT_EQ(steady.onsetRate, 0.0);

    // Two bursts a second for 30 s: 400 samples of noise decaying with a
    // time constant of 60 samples.
    std::vector<int16_t> x(30 * kRate, 0);
    const auto n = test::noise(kRate, 30.0, 30000.0, 3);
    for (size_t start = 5000; start + 400 < x.size(); start += kRate / 2)
        for (size_t i = 0; i < 400; ++i) x[start + i] = int16_t(n[start + i] * std::exp(-double(i) / 60.0));
    auto bursts = test::songOf(x, kRate);
    const BandChanges b = ComputeBandChanges(bursts->NoteSpectrum(), bursts->GetDurationMs());
    EXPECT_GE(b.onsetRate / kOnsetRateFactor, 110.0);
    EXPECT_LE(b.onsetRate / kOnsetRateFactor, 135.0);
    EXPECT_GT(b.changeShare, steady.changeShare);
    bursts->RunStep(9);
    EXPECT_EQ(bursts->Features()[kBandChangeShare], b.changeShare);

    auto shortSong = test::songOf(std::vector<int16_t>(x.begin(), x.begin() + 9 * kRate), kRate);
    const BandChanges none = ComputeBandChanges(shortSong->NoteSpectrum(), shortSong->GetDurationMs());
    EXPECT_EQ(none.changeShare, 0.0);
    EXPECT_EQ(none.onsetRate, 0.0);
}
