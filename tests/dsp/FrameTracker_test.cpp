#include "dsp/FrameTracker.h"

#include <gtest/gtest.h>

#include <cmath>

#include "dsp/FFTObj.h"
#include "support/SpectraFixtures.h"

namespace {

struct Counts {
    int32_t frames = 0, peaks = 0, starts = 0, singles = 0;
};

Counts countOf(const FrameTracker& t) {
    Counts c;
    for (const PeakFrame* f = t.FirstFrame(); f != nullptr; f = f->next) {
        ++c.frames;
        int32_t inFrame = 0;
        for (const TrackPeak* p = f->firstPeak; p != nullptr; p = p->nextInFrame) {
            ++c.peaks;
            ++inFrame;
            c.starts += p->IsTrackStart();
            c.singles += p->IsSingle();
        }
        EXPECT_EQ(inFrame, f->peakCount);
    }
    return c;
}

// A clear peak of height h at bin k, with the neighbours two bins away lower.
void putPeak(test::SyntheticSpectrum& s, int32_t frame, int32_t k, float h) {
    s.at(frame, k) = h;
    s.at(frame, k - 1) = std::max(s.at(frame, k - 1), h / 2);
    s.at(frame, k + 1) = std::max(s.at(frame, k + 1), h / 4);
}

}  // namespace

TEST(FrameTracker, StationarySineIsOneTrack) {
    auto song = test::songOf(test::tone(440, 44100, 3 * 44100, 20000), 44100);
    FFTObj fft;
    fft.SetSignal(song.get());
    fft.SetFrameSize(8192);
    fft.SetWindow(FrameData::kHammingWindow);
    fft.Compute(0.8);
    FrameTracker* t = fft.Track(0.005f, 0.03f);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(fft.Tracker(), t);
    const Counts c = countOf(*t);
    EXPECT_EQ(c.frames, fft.FrameCount());
    EXPECT_EQ(t->FrameCount(), fft.FrameCount());
    EXPECT_EQ(c.peaks, fft.FrameCount());
    EXPECT_EQ(c.starts, 1);
    const TrackPeak& start = *t->FirstFrame()->firstPeak;
    ASSERT_TRUE(start.IsTrackStart());
    const double binHz = std::round(440.0 / fft.BinSpacing()) * fft.BinSpacing();
    EXPECT_NEAR(start.meanFrequency, binHz, 1e-3);
    EXPECT_FLOAT_EQ(start.lastFrequency, start.frequency);
    EXPECT_NEAR(start.meanMagnitude, 20000.0 / 32767 * 0.54, 0.03);
    TrackPeak& mutableStart = *t->FirstFrame()->firstPeak;
    EXPECT_NEAR(mutableStart.Duration(), fft.FrameCount() * fft.HopDuration(), 1e-3);
    EXPECT_GT(mutableStart.endTime, 0.0f);  // cached
}

TEST(FrameTracker, PicksOnlyInnerBinsAndInterpolates) {
    test::SyntheticSpectrum s(1, 32, 3200, 100);  // 50 Hz bins
    for (int32_t k : {1, 28, 30}) s.at(0, k) = 1.0f;  // bin 1 and the top four (28-31) are excluded
    s.at(0, 10) = 1.0f;
    s.at(0, 9) = 0.5f;
    s.at(0, 11) = 0.25f;
    s.at(0, 20) = 0.004f;  // below the minimum magnitude
    FrameTracker t(0.005f, 0.03f);
    t.SetNeighbourhood(2);
    t.Run(s);
    const TrackPeak* p = t.FirstFrame()->firstPeak;
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(t.FirstFrame()->peakCount, 1);
    EXPECT_FLOAT_EQ(p->frequency, 500.0f);
    // Parabola through (0.5, 1, 0.25): offset p = 0.125 / -1.25, height 1 - 0.25 * 0.25 * p.
    EXPECT_FLOAT_EQ(p->magnitude, 1.0f - 0.25f * 0.25f * (0.5f * 0.25f / -1.25f));
    EXPECT_TRUE(p->IsSingle());
    EXPECT_FLOAT_EQ(float(const_cast<TrackPeak*>(p)->Duration()), float(s.HopDuration()));

    // Neighbourhood 2 also requires the bins two away to be lower.
    test::SyntheticSpectrum w(1, 32, 3200, 100);
    w.at(0, 10) = 1.0f;
    w.at(0, 12) = 1.5f;
    w.at(0, 13) = 0.1f;
    FrameTracker narrow(0.005f, 0.03f), wide(0.005f, 0.03f);
    wide.SetNeighbourhood(2);
    narrow.Run(w);
    wide.Run(w);
    EXPECT_EQ(countOf(narrow).peaks, 2);
    EXPECT_EQ(countOf(wide).peaks, 1);
}

TEST(FrameTracker, LinksToNearestFreePeakLowerOnTies) {
    test::SyntheticSpectrum s(3, 64, 6400, 100);  // 50 Hz bins
    putPeak(s, 0, 20, 1.0f);
    putPeak(s, 1, 18, 1.0f);  // 100 Hz below and above 1000 Hz: a tie
    putPeak(s, 1, 22, 1.0f);
    putPeak(s, 2, 40, 1.0f);  // too far in log frequency
    FrameTracker t(0.005f, 0.5f);
    t.Run(s);
    const TrackPeak* p = t.FirstFrame()->firstPeak;
    ASSERT_NE(p->next, nullptr);
    EXPECT_FLOAT_EQ(p->next->frequency, 900.0f);
    EXPECT_EQ(p->next->previous, p);
    EXPECT_TRUE(p->linked && p->next->linked);
    EXPECT_EQ(p->next->next, nullptr);
    const Counts c = countOf(t);
    EXPECT_EQ(c.starts, 1);
    EXPECT_EQ(c.singles, 2);  // 1100 Hz and 2000 Hz
}

TEST(FrameTracker, SummariesAndStatistics) {
    // Hop 1638 at 44100 Hz: 37.14 ms. A 7-peak track (260 ms, long) at 1000 Hz
    // with a harmonic at 2000 Hz, and a 2-peak track (74.3 ms, short).
    test::SyntheticSpectrum s(8, 4097, 44100, 1638);
    const double hz = s.BinSpacing();
    const int32_t k1 = int32_t(1000 / hz), k2 = 2 * k1, kShort = 1000;
    const float mags[7] = {1.0f, 0.8f, 0.9f, 0.7f, 1.2f, 1.1f, 1.0f};
    for (int32_t f = 0; f < 7; ++f) {
        putPeak(s, f, f == 3 ? k1 + 1 : k1, mags[f]);
        putPeak(s, f, k2, 0.5f);
    }
    putPeak(s, 0, kShort, 0.3f);
    putPeak(s, 1, kShort, 0.3f);
    auto song = test::songOf(std::vector<int16_t>(44100 * 2, 1), 44100);  // 2 s
    FrameTracker t(0.005f, 0.03f);
    t.SetSignal(song.get());
    t.Run(s);
    TrackPeak* start = t.FirstFrame()->firstPeak;
    ASSERT_TRUE(start->IsTrackStart());
    EXPECT_FLOAT_EQ(start->frequency, float(k1 * hz));
    EXPECT_DOUBLE_EQ(start->frequencyMax, double(float((k1 + 1) * hz)));
    EXPECT_DOUBLE_EQ(start->frequencyMin, double(float(k1 * hz)));
    EXPECT_NEAR(start->meanFrequency, (6 * k1 + (k1 + 1)) * hz / 7, 1e-2);
    EXPECT_NEAR(start->Duration(), 7 * 1638 * 1000.0 / 44100, 1e-3);
    TrackPeak* shortTrack = start->nextInFrame->nextInFrame;
    ASSERT_NE(shortTrack, nullptr);
    EXPECT_NEAR(shortTrack->Duration(), 74.29, 0.01);

    t.ComputeStatistics();
    EXPECT_EQ(t.PeakCount(), 16);
    EXPECT_FLOAT_EQ(t.PeakRate(), 16 / 2.0f);
    EXPECT_FLOAT_EQ(t.LongTrackRate(), 2 / 2.0f);  // the 1000 and 2000 Hz tracks
    EXPECT_NEAR(t.MeanLongTrackDuration(), 260.0, 0.01);
    EXPECT_FLOAT_EQ(t.HarmonicFraction(), 0.5f);  // only the lower has a harmonic above it
    EXPECT_NEAR(t.MeanLongTrackSpan(), hz / 2, 1e-3);

    FrameTracker none(0.005f, 0.03f);
    test::SyntheticSpectrum quiet(4, 64, 6400, 100);
    none.Run(quiet);
    none.ComputeStatistics();
    EXPECT_EQ(none.PeakRate(), 0.0f);
    EXPECT_EQ(none.MeanLongTrackDuration(), 0.0f);
    EXPECT_EQ(none.HarmonicFraction(), 0.0f);
    EXPECT_EQ(none.MeanLongTrackSpan(), 0.0f);
}
