#include "dsp/FrameTracker.h"

#include <gtest/gtest.h>

#include "support/SpectraFixtures.h"

namespace {

struct Counts {
    int32_t frames = 0, peaks = 0, starts = 0, singles = 0;
};

Counts countOf(const FrameTracker& t) {
    Counts c;
    for (const PeakFrame* f = t.FirstFrame(); f != nullptr; f = f->next, ++c.frames) {
        int32_t inFrame = 0;
        for (const TrackPeak* p = f->firstPeak; p != nullptr; p = p->nextInFrame, ++inFrame)
            c.starts += p->IsTrackStart(), c.singles += p->IsSingle();
        EXPECT_EQ(inFrame, f->peakCount);
        c.peaks += inFrame;
    }
    return c;
}

// A clear peak of height h at bin k, its neighbours lower.
void putPeak(test::SyntheticSpectrum& s, int32_t frame, int32_t k, float h) {
    s.at(frame, k) = h;
    s.at(frame, k - 1) = std::max(s.at(frame, k - 1), h / 2);
    s.at(frame, k + 1) = std::max(s.at(frame, k + 1), h / 4);
}

}  // namespace

TEST(FrameTracker, PicksOnlyInnerBinsAndInterpolates) {
    test::SyntheticSpectrum s(1, 32, 3200, 100);  // 50 Hz bins
    for (int32_t k : {1, 28, 30}) s.at(0, k) = 1.0f;  // bin 1 and the top four (28-31) are excluded
    s.at(0, 9) = 0.5f, s.at(0, 10) = 1.0f, s.at(0, 11) = 0.25f, s.at(0, 20) = 0.004f;  // 0.004: too weak
    FrameTracker t(0.005f, 0.03f);
    t.Run(s);
    const TrackPeak* p = t.FirstFrame()->firstPeak;
    ASSERT_EQ(t.FirstFrame()->peakCount, 1);
    EXPECT_FLOAT_EQ(p->frequency, 500.0f);
    // Parabola through (0.5, 1, 0.25): vertex offset -0.1, height 1 + 0.25 * 0.25 * 0.1.
    EXPECT_FLOAT_EQ(p->magnitude, 1.00625f);
    EXPECT_TRUE(p->IsSingle());
    EXPECT_FLOAT_EQ(float(p->Duration()), float(s.HopDuration()));

    // Neighbourhood 2 also requires the bins two away to be lower.
    test::SyntheticSpectrum w(1, 32, 3200, 100);
    w.at(0, 10) = 1.0f, w.at(0, 12) = 1.5f, w.at(0, 13) = 0.1f;
    FrameTracker narrow(0.005f, 0.03f), wide(0.005f, 0.03f);
    wide.SetNeighbourhood(2);
    narrow.Run(w), wide.Run(w);
    EXPECT_EQ(countOf(narrow).peaks, 2);
    EXPECT_EQ(countOf(wide).peaks, 1);
}

TEST(FrameTracker, LinksToNearestFreePeakLowerOnTies) {
    test::SyntheticSpectrum s(3, 64, 6400, 100);  // 50 Hz bins
    // 100 Hz below and above 1000 Hz: a tie; then 2000 Hz, too far in log frequency.
    for (const auto& [frame, k] : {std::pair{0, 20}, {1, 18}, {1, 22}, {2, 40}}) putPeak(s, frame, k, 1.0f);
    FrameTracker t(0.005f, 0.5f);
    t.Run(s);
    const TrackPeak* p = t.FirstFrame()->firstPeak;
    ASSERT_NE(p->next, nullptr);
    EXPECT_FLOAT_EQ(p->next->frequency, 900.0f);
    EXPECT_EQ(p->next->previous, p);
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
    const int32_t k1 = int32_t(1000 / hz);
    const float mags[7] = {1.0f, 0.8f, 0.9f, 0.7f, 1.2f, 1.1f, 1.0f};
    for (int32_t f = 0; f < 7; ++f) {
        putPeak(s, f, f == 3 ? k1 + 1 : k1, mags[f]);
        putPeak(s, f, 2 * k1, 0.5f);
    }
    for (int32_t f : {0, 1}) putPeak(s, f, 1000, 0.3f);
    auto song = test::songOf(std::vector<int16_t>(44100 * 2, 1), 44100);  // 2 s
    FrameTracker t(0.005f, 0.03f);
    t.SetSignal(song.get());
    t.Run(s);
    const TrackPeak* start = t.FirstFrame()->firstPeak;
    EXPECT_DOUBLE_EQ(start->frequencyMax, double(float((k1 + 1) * hz)));
    EXPECT_DOUBLE_EQ(start->frequencyMin, double(float(k1 * hz)));
    EXPECT_NEAR(start->meanFrequency, (6 * k1 + (k1 + 1)) * hz / 7, 1e-2);
    EXPECT_NEAR(start->Duration(), 7 * 1638 * 1000.0 / 44100, 1e-3);
    EXPECT_NEAR(start->nextInFrame->nextInFrame->Duration(), 74.29, 0.01);

    for (int call = 1; call <= 2; ++call) {  // a second call must not count on the first's flags
        SCOPED_TRACE(call);
        t.ComputeStatistics();
        EXPECT_EQ(t.PeakCount(), 16);
        EXPECT_FLOAT_EQ(t.PeakRate(), 16 / 2.0f);
        EXPECT_FLOAT_EQ(t.LongTrackRate(), 2 / 2.0f);  // the 1000 and 2000 Hz tracks
        EXPECT_NEAR(t.MeanLongTrackDuration(), 260.0, 0.01);
        EXPECT_FLOAT_EQ(t.HarmonicFraction(), 0.5f);  // only the lower has a harmonic above it
        EXPECT_NEAR(t.MeanLongTrackSpan(), hz / 2, 1e-3);
    }

    FrameTracker none(0.005f, 0.03f);
    test::SyntheticSpectrum quiet(4, 64, 6400, 100);
    none.Run(quiet);
    none.ComputeStatistics();
    for (float v : {none.PeakRate(), none.MeanLongTrackDuration(), none.HarmonicFraction(), none.MeanLongTrackSpan()})
        EXPECT_EQ(v, 0.0f);
}
