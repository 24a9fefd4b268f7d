#include "dsp/FFTObj.h"

#include <gtest/gtest.h>

#include <cstring>

#include "dsp/QuorbixError.h"
#include "dsp/SideBySide.h"
#include "dsp/SignalObj.h"
#include "dsp/SpectralStatistics.h"
#include "support/Signals.h"

namespace {

// The spectra of exactly `samples` samples of a tone at `rate`.
struct Spectra {
    std::unique_ptr<SignalObj> signal;
    FFTObj fft;
    Spectra(double hz, int32_t rate, int32_t samples, int32_t n, FrameData::WindowShape window, double overlap,
            double amplitude = 1000) : signal(test::signalOf(test::sine(hz, rate, double(samples) / rate, amplitude), rate)) {
        fft.ComputeOn(signal.get(), n, window, overlap);
    }
};

}  // namespace

TEST(FFTObj, FrameCountsHopsAndTimes) {
    EXPECT_EQ(Spectra(440, 44100, 8191, 8192, FrameData::kRectangular, 0.0).fft.FrameCount(), 0);
    Spectra s(440, 44100, 100000, 8192, FrameData::kRectangular, 0.8);
    FFTObj& f = s.fft;
    EXPECT_EQ(f.BinCount(), 4097);
    EXPECT_DOUBLE_EQ(f.BinSpacing(), 44100.0 / 8194.0);
    EXPECT_EQ(f.Hop(), 1638);
    EXPECT_EQ(f.FrameCount(), (100000 - 8192) / 1638 + 1);
    EXPECT_NEAR(f.HopDuration(), 37.142857142857, 1e-9);
    f.Compute(0.0);
    EXPECT_EQ(f.FrameCount(), (100000 - 8192) / 8192 + 1);
}

// Centred on bin 12, also for a frame size that is not a power of two.
TEST(FFTObj, FullScaleSineGivesOneOrTheHammingGain) {
    for (int32_t n : {8192, 1000})
        for (const auto window : {FrameData::kRectangular, FrameData::kHammingWindow}) {
            Spectra s(12.0 * 44100 / n, 44100, n, n, window, 0.0, 32767);
            const float* row = s.fft.Frame(0);
            EXPECT_EQ(std::max_element(row, row + s.fft.BinCount()) - row, 12) << n << " " << window;
            EXPECT_NEAR(row[12], window == FrameData::kRectangular ? 1.0 : 0.54, 2e-3) << n << " " << window;
        }
}

// Band lookups up to 200 Hz cannot tell rows cut there from full ones.
TEST(FFTObj, KeptBinsAreTheFullRowsFirstBins) {
    auto signal = test::signalOf(test::music(22050, 3.0), 22050);
    FFTObj full, low;
    full.ComputeOn(signal.get(), 2048, FrameData::kHammingWindow, 0.75);
    low.KeepBinsUpTo(200.0);
    low.ComputeOn(signal.get(), 2048, FrameData::kHammingWindow, 0.75);
    ASSERT_EQ(low.FrameCount(), full.FrameCount());
    EXPECT_EQ(low.BinCount(), 19);  // bin 18 holds 200 Hz at 22050 / 2050 Hz per bin
    EXPECT_EQ(low.BinSpacing(), full.BinSpacing());
    for (int32_t f = 0; f < full.FrameCount(); ++f)
        for (int32_t k = 0; k < low.BinCount(); ++k) ASSERT_EQ(low.Frame(f)[k], full.Frame(f)[k]) << f << ", " << k;
    double a = 0, b = 0;
    EXPECT_EQ(FindDensityBoundary(low, a, 0.0, 70.0, 50.0, 200.0, 0.007, 0.5, true, true),
              FindDensityBoundary(full, b, 0.0, 70.0, 50.0, 200.0, 0.007, 0.5, true, true));
    EXPECT_EQ(a, b);
    EXPECT_EQ(BandMeanLevel(low, 500.0, 100.0, 50.0, 200.0, false), BandMeanLevel(full, 500.0, 100.0, 50.0, 200.0, false));
    EXPECT_THROW(low.ReSample(16, false), QuorbixError);
}

// Frames shared out between two threads, each on a transform of its own,
// are the frames of one thread, bit for bit.
TEST(FFTObj, SharedFramesAreTheFramesOfOneThread) {
    auto signal = test::signalOf(test::music(44100, 6.0), 44100);
    FFTObj alone, shared;
    for (FFTObj* f : {&alone, &shared}) {
        f->KeepBinsUpTo(8000.0);
        f->SetSignal(signal.get());
        f->SetFrameSize(8192);
        f->SetWindow(FrameData::kHammingWindow);
    }
    alone.Compute(0.8);
    ASSERT_TRUE(shared.BeginShares(0.8));
    runSideBySide([&] { shared.ComputeShare(); }, [&] { shared.ComputeShare(); });
    ASSERT_EQ(shared.FrameCount(), alone.FrameCount());
    ASSERT_EQ(shared.BinCount(), alone.BinCount());
    for (int32_t f = 0; f < alone.FrameCount(); ++f)
        ASSERT_EQ(0, std::memcmp(shared.Frame(f), alone.Frame(f), sizeof(float) * size_t(alone.BinCount()))) << f;
    EXPECT_FALSE(shared.BeginShares(0.8));  // already computed for this overlap
}

// Bins 25 Hz apart by the object's spacing; 50 Hz bands to 1000 Hz, then
// 350 Hz bands to 8000 Hz. A bin on an edge belongs to the band above, and
// 8000 Hz to none.
TEST(FFTObj, ReSampleKeepsEachBandsLargestBin) {
    const int32_t n = 1024, rate = 25650;
    std::vector<int16_t> x(3 * n, 0);
    for (const auto& [bin, amplitude] : {std::pair{21, 8000}, {40, 6000}, {319, 5000}, {320, 4000}}) {
        const auto t = test::sine(double(bin) * rate / n, rate, 3.0 * n / rate, amplitude);  // centred on the bin
        for (size_t i = 0; i < x.size(); ++i) x[i] = int16_t(x[i] + t[i]);
    }
    auto song = test::signalOf(x, rate);
    FFTObj f;
    f.ComputeOn(song.get(), n, FrameData::kRectangular, 0.0);
    ASSERT_EQ(f.BinSpacing(), 25.0);
    f.ReSample(40, true);
    EXPECT_EQ(f.BinCount(), 40);
    for (int32_t frame = 0; frame < 3; ++frame)
        for (int32_t band = 0; band < 40; ++band) {
            const double expected = band == 10 ? 8000 : band == 20 ? 6000 : band == 39 ? 5000 : 0;
            EXPECT_NEAR(f.Value(frame, band), expected / 32767, 2e-4) << frame << " band " << band;
        }
    // Rows cut just below the top edge give the same bands (bin 320, at
    // 8000 Hz, is in none); rows that leave out bin 319 give none.
    for (const double keep : {7990.0, 7970.0}) {
        FFTObj cut;
        cut.KeepBinsUpTo(keep);
        cut.ComputeOn(song.get(), n, FrameData::kRectangular, 0.0);
        if (keep < 7975.0) {
            EXPECT_THROW(cut.ReSample(40, true), QuorbixError);
            continue;
        }
        cut.ReSample(40, true);
        for (int32_t frame = 0; frame < 3; ++frame)
            for (int32_t band = 0; band < 40; ++band) EXPECT_EQ(cut.Value(frame, band), f.Value(frame, band));
    }
    f.Compute(0.5);  // band rows only: not computed again
    EXPECT_EQ(f.BinCount(), 40);
    Spectra tooFew(100, 1000, 256, 64, FrameData::kRectangular, 0.0);  // 33 bins for 40 bands
    EXPECT_THROW(tooFew.fft.ReSample(40, true), QuorbixError);
}

TEST(FFTObj, SemitonesRoundHalfAwayFromZero) {
    for (const auto& [semitones, expected] : {std::pair{0.0, 0}, {48.0, 48}, {12.4, 12}, {12.6, 13}, {-2.6, -3}})
        EXPECT_EQ(FFTObj::FrequencyToSemitone(27.5 * std::pow(2.0, semitones / 12)), expected) << semitones;
}
