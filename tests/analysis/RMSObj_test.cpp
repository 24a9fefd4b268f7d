#include "analysis/RMSObj.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "dsp/SignalObj.h"
#include "support/Signals.h"

namespace {

using test::signalOf;

// Frames of 60 samples at 1000 Hz (60 ms) that are square waves of the given
// amplitudes, so each frame's RMS level is exactly its amplitude.
std::unique_ptr<RMSObj> framed(const std::vector<int>& amplitudes, std::unique_ptr<SignalObj>& s) {
    std::vector<int16_t> x;
    for (int a : amplitudes)
        for (int j = 0; j < 60; ++j) x.push_back(static_cast<int16_t>(j % 2 ? -a : a));
    s = signalOf(x, 1000);
    auto rms = std::make_unique<RMSObj>();
    rms->SetSignal(s.get());
    rms->ComputeFrames(60.0, RMSObj::kRectangular, 0.0);
    return rms;
}

void addBurst(std::vector<int16_t>& x, int32_t start, int32_t count, double hz, double amplitude,
              double decaySamples, int32_t rate) {
    for (int32_t i = 0; i < count; ++i)
        x[start + i] = static_cast<int16_t>(std::lround(
            amplitude * std::exp(-i / decaySamples) * std::sin(2.0 * M_PI * hz * i / rate)));
}

}  // namespace

TEST(RMSObj, LevelsSoundingSpanAndStatistics) {
    std::unique_ptr<SignalObj> s;
    auto rms = framed({0, 200, 400, 600, 800, 1000, 900, 700, 500, 300, 100}, s);
    ASSERT_EQ(rms->FrameCount(), 11);
    EXPECT_FLOAT_EQ(rms->PeakLevel(), 1000.0f);
    const double first = rms->FirstSoundingTime(), last = rms->LastSoundingTime();
    EXPECT_NEAR(first, 60.0, 1e-9);
    EXPECT_NEAR(last, 600.0, 1e-9);

    // Frames 1 .. 9 for mean and deviation; median and spread over all 11.
    rms->Statistics(first, last - first);
    const RMSStatistics& st = rms->Stats();
    EXPECT_NEAR(st.mean, 600.0, 1e-3);
    EXPECT_NEAR(st.stdDev, std::sqrt(600000.0 / 8.0), 1e-2);
    EXPECT_FLOAT_EQ(st.median, 500.0f);
    EXPECT_NEAR(st.spread, 90.0, 1e-4);  // (1000 - 100) x 100 / 1000, m = 1
    EXPECT_NEAR(st.levelDb, 20.0 * std::log10(std::sqrt(60.0 * 3850000.0 / 659.0) / 32767.0), 1e-4);
    rms->Statistics(300.0, 600.0);  // past the last frame: nothing changes
    EXPECT_NEAR(rms->Stats().mean, 600.0, 1e-3);
    // A span's mean asked on its own leaves the statistics alone.
    EXPECT_NEAR(rms->SpanMean(0.0, 120.0, -1.0), 100.0, 1e-9);
    EXPECT_EQ(rms->SpanMean(600.0, 120.0, -1.0), -1.0);
    EXPECT_NEAR(rms->Stats().mean, 600.0, 1e-3);

    // A span of no frame (a song that sounds in one frame only) still gives
    // the median over every frame; its own mean and deviation are undefined.
    rms->Statistics(300.0, 0.0);
    EXPECT_FLOAT_EQ(rms->Stats().median, 500.0f);
    EXPECT_TRUE(std::isnan(rms->Stats().mean));
    EXPECT_TRUE(std::isnan(rms->MeanLevelDb(300.0, 0.0)));
    EXPECT_NEAR(rms->MeanLevelDb(0.0, 120.0), 10.0 * (std::log10(1.0 / 32767.0) + std::log10(200.0 / 32767.0)), 1e-9);

    // A level of exactly 0.1 (6 unit samples in 600) does not sound; 7 do.
    std::vector<int16_t> x(2400, 0);
    std::fill(x.begin() + 600, x.begin() + 606, int16_t{1});
    std::fill(x.begin() + 1200, x.begin() + 1207, int16_t{1});
    auto quiet = signalOf(x, 10000);
    rms->SetSignal(quiet.get());
    rms->ComputeFrames(60.0, RMSObj::kRectangular, 0.0);
    EXPECT_FLOAT_EQ(rms->Level(1), 0.1f);
    EXPECT_EQ(rms->FirstSoundingFrame(), 2);
    EXPECT_EQ(rms->LastSoundingFrame(), 2);

    // Triangular weights carry half the energy: level a / sqrt(2).
    rms->SetSignal(s.get());
    rms->ComputeFrames(30.0, RMSObj::kTriangular, 0.5);
    EXPECT_EQ(rms->Hop(), 15);
    EXPECT_NEAR(rms->Level(12), 600.0 / std::sqrt(2.0), 1e-3);  // inside the 600 frame
}

TEST(RMSObj, SmoothingPeaksFadeOutAndLevelChanges) {
    std::unique_ptr<SignalObj> s;
    auto rms = framed({100, 100, 1000, 1000, 1000, 1000}, s);
    // g0 = 60 / 100 x 0.02 = 0.012, doubling on each of three jumps, then held.
    const double expected[] = {100.0, 100.0, 121.6, 163.7632, 244.0419328, 316.6139072512};
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(rms->Smoothed(i), expected[i], 1e-3) << i;

    rms = framed({100, 500, 100, 100, 600, 100, 110, 100}, s);
    EXPECT_EQ(rms->LevelPeakCount(0.0), 3);  // 500, 600 and 110 are local maxima
    EXPECT_EQ(rms->LevelPeakCount(1.5), 2);  // 110 is not 1.5 x its smoothed level

    // The tail below 0.5 is skipped (one unit sample in 60 gives 0.129).
    rms = framed({1000, 1000, 1000, 900, 950, 800, 700, 600, 500, 400, 0}, s);
    s->data[600] = 1;
    rms->ComputeFrames(60.0, RMSObj::kRectangular, 0.0);
    // 500 .. 950 and the 1000 before 900 fall; 900 < 950 is the exception,
    // the equal 1000s the second.
    EXPECT_EQ(rms->FadeOutLength(4), 6);
    EXPECT_EQ(rms->FadeOutLength(6), 0);

    // Stairs 1.5 dB apart never count as level changes (floor 0), nor does one loud
    // frame (counted ones: BarDynamics.FadeOutAndLevelChangesAtTheTempo).
    std::vector<int> stairs;
    for (int step = 0; step < 3; ++step) stairs.resize(12 * (step + 1), static_cast<int>(1000.0 * std::pow(10.0, 1.5 * step / 20.0)));
    const LevelChangeResult r = framed(stairs, s)->LevelChanges(8);
    EXPECT_EQ(r.count, 0);
    EXPECT_EQ(r.sum, 0.0);
    EXPECT_EQ(r.floor, 0.0);
    std::vector<int> spike(40, 1000);
    spike[20] = 2000;
    EXPECT_EQ(framed(spike, s)->LevelChanges(8).count, 0);
}

TEST(RMSObj, LevelQueryShapesAndEdges) {
    std::unique_ptr<SignalObj> s;
    auto rms = framed({100, 200, 300, 250, 150}, s);
    int32_t shape = -7;
    double level = -7.0;
    EXPECT_NEAR(rms->LevelQuery(60.0, 180.0, 250.0, 0.0, shape, level), 120.0, 1e-9);
    EXPECT_EQ(shape, 1);
    EXPECT_EQ(level, 300.0);
    EXPECT_EQ(rms->LevelQuery(60.0, 180.0, 300.0, 0.0, shape, level), -1.0);  // must exceed
    // Frame 1 alone, still rising: interpolated at the span's end.
    EXPECT_NEAR(rms->LevelQuery(30.0, 40.0, 210.0, 0.0, shape, level), 70.0, 1e-9);
    EXPECT_EQ(shape, 2);
    EXPECT_NEAR(level, 200.0 + 100.0 * 10.0 / 60.0, 1e-9);
    // Frame 3 alone, falling from before the span: interpolated at its start.
    EXPECT_NEAR(rms->LevelQuery(170.0, 60.0, 255.0, 0.0, shape, level), 170.0, 1e-9);
    EXPECT_EQ(shape, 0);
    EXPECT_NEAR(level, 300.0 - 50.0 * 50.0 / 60.0, 1e-9);
    // A negative threshold compares with factor x the smoothed level.
    EXPECT_NEAR(rms->LevelQuery(0.0, 300.0, -1.0, 1.0, shape, level), 120.0, 1e-9);
    EXPECT_EQ(rms->LevelQuery(0.0, 300.0, -1.0, 100.0, shape, level), -1.0);
    // An empty span leaves shape and level alone.
    shape = -7;
    EXPECT_EQ(rms->LevelQuery(30.0, 30.0, 0.0, 0.0, shape, level), -1.0);
    EXPECT_EQ(shape, -7);
}

TEST(RMSObj, EventsAtBurstOnsets) {
    const int32_t rate = 22050;
    RMSObj rms;
    std::unique_ptr<SignalObj> s;
    auto detect = [&](const std::vector<int16_t>& x, double frameMs, double overlap) {
        s = signalOf(x, rate);
        rms.SetSignal(s.get());
        rms.ComputeFrames(frameMs, RMSObj::kRectangular, overlap);
        rms.DetectEvents();
        return rms.Events();
    };
    std::vector<int16_t> x(rate * 3, 0);
    addBurst(x, rate / 2, rate / 2, 100.0, 10000.0, 1e9, rate);
    auto events = detect(x, 60.0, 0.0);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_NEAR(events[0].timeMs, 502.5, 0.1);  // the window's peak, 1/4 period in
    EXPECT_NEAR(events[0].strength, 10000.0, 1.0);
    rms.Statistics(0.0, 2000.0);
    EXPECT_EQ(rms.Stats().eventsPerPeriod, 0.0);  // fewer than two events

    addBurst(x, 2 * rate, rate / 2, 100.0, 10000.0, 1e9, rate);
    ASSERT_EQ(detect(x, 60.0, 0.0).size(), 2u);
    rms.Statistics(0.0, 2000.0);
    EXPECT_NEAR(rms.Stats().eventsPerPeriod, 2.0 / 0.3, 1e-9);  // 2 events in 3 s

    // An onset 40 ms after a kept one is dropped: events keep 65 ms apart.
    std::vector<int16_t> close(rate, 0);
    addBurst(close, rate / 2, rate / 100, 100.0, 10000.0, 1e9, rate);
    addBurst(close, rate / 2 + rate / 25, rate / 10, 100.0, 10000.0, 1e9, rate);
    EXPECT_EQ(detect(close, 60.0, 0.0).size(), 1u);

    // Band-passed: decaying 2 kHz bursts every 500 ms rise steeply above the
    // local level; with a minimum rise beyond reach they are no events.
    std::vector<int16_t> y(rate * 3, 0);
    for (int b = 0; b < 5; ++b) addBurst(y, rate / 4 + b * rate / 2, rate / 10, 2000.0, 20000.0, 0.01 * rate, rate);
    rms.SetBand(RMSObj::kBandPass, 2000.0, 600.0);
    events = detect(y, 120.0, 0.5);
    ASSERT_EQ(events.size(), 5u);
    for (int b = 0; b < 5; ++b) EXPECT_NEAR(events[b].timeMs, 250.0 + 500.0 * b, 0.5) << b;
    rms.SetEventLevels(6.0, 30000.0);
    rms.DetectEvents();
    EXPECT_TRUE(rms.Events().empty());
}

// The crossing detector against its rule written out plainly, on random
// signals at 1000 Hz (a window of n ms is n samples, the minimum gap one
// sample), so that crossings fall at and around every window's first sample,
// for windows of 1 to 20 ms on one object in turn: what it keeps between
// calls must not carry one window's scan into the next.
TEST(RMSObj, CrossingEventsFollowTheRuleForEveryWindow) {
    auto reference = [](const std::vector<int16_t>& x, int32_t w, double ratio, double floor) {
        const int32_t n = int32_t(x.size()), gap = 1;
        std::vector<LevelEvent> raw;
        int32_t z = 0;
        bool positive = true;
        double top = 0.0;
        for (int32_t i = w; i < n; ++i) {
            const bool crossing = (x[i] < 0 && positive) || (x[i] > 0 && !positive);
            positive = x[i] > 0;
            if (!crossing) continue;
            if (i - z > gap) {
                int64_t a = 0, b = 0;
                int32_t peak = -1, k = z;
                for (int32_t j = z; j < std::min(z + w, n); ++j) {
                    a += std::abs(x[j]);
                    if (std::abs(x[j]) > peak) peak = std::abs(x[j]), k = j;
                }
                for (int32_t j = std::max(0, z - w); j < z; ++j) b += std::abs(x[j]);
                top = std::max(top, double(peak));
                if (double(a) / (b == 0 ? 32000.0 : double(b)) > ratio) raw.push_back({double(k), double(peak)});
            }
            z = i;
        }
        std::vector<LevelEvent> kept;
        double last = 0.0;
        for (const auto& e : raw) {
            if (e.strength < floor * top || (last > 0.0 && e.timeMs < last + 65.0)) continue;
            kept.push_back(e);
            last = e.timeMs;
        }
        return kept;
    };
    std::mt19937 rng(9);
    size_t events = 0;
    for (int song = 0; song < 200; ++song) {
        // Runs of one sign, of zeros and of the other sign, of random lengths.
        std::vector<int16_t> x(300);
        for (size_t i = 0; i < x.size();) {
            const int sign = int(rng() % 3) - 1;
            for (size_t end = std::min(x.size(), i + 1 + rng() % 6); i < end; ++i)
                x[i] = int16_t(sign * int(1 + rng() % 3000));
        }
        // A loud first sample: its window's peak, when it is one, sets the floor.
        if (song % 4 == 0) x[0] = 30000;
        auto s = signalOf(x, 1000);
        RMSObj rms;
        rms.SetSignal(s.get());
        rms.ComputeFrames(60.0, RMSObj::kRectangular, 0.0);
        for (int32_t w = 1; w <= 20; ++w) {
            SCOPED_TRACE(testing::Message() << "song " << song << " window " << w);
            rms.SetEventSettings(1.5, 0.2, w);
            rms.DetectEvents();
            const auto expected = reference(x, w, 1.5, 0.2);
            ASSERT_EQ(rms.Events().size(), expected.size());
            events += expected.size();
            for (size_t e = 0; e < expected.size(); ++e) {
                EXPECT_EQ(rms.Events()[e].timeMs, expected[e].timeMs);
                EXPECT_EQ(rms.Events()[e].strength, expected[e].strength);
            }
        }
    }
    EXPECT_GT(events, 2000u);
}
