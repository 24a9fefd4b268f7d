#include "analysis/TempoAnalyser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "analysis/AnalysisResults.h"
#include "analysis/SongObj.h"
#include "support/Signals.h"

namespace {

constexpr int32_t kRate = 22050;

// A kick on every beat (a fast-decaying sweep from 180 Hz down to 45 Hz,
// louder on the downbeat) and a noise snare on beats 2 and 4.
std::vector<int16_t> drums(double bpm, double seconds) {
    std::vector<double> x(static_cast<size_t>(seconds * kRate), 0.0);
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> noise(-1.0, 1.0);
    const double beat = 60.0 / bpm;
    for (int32_t b = 0; b * beat < seconds; ++b) {
        const size_t at = static_cast<size_t>(b * beat * kRate);
        const double accent = b % 4 == 0 ? 1.0 : 0.6;
        for (size_t i = 0; i < static_cast<size_t>(0.3 * kRate) && at + i < x.size(); ++i) {
            const double t = static_cast<double>(i) / kRate;
            const double phase = 2.0 * M_PI * (45.0 * t + 135.0 * 0.03 * (1.0 - std::exp(-t / 0.03)));
            x[at + i] += accent * std::exp(-t / 0.07) * std::sin(phase);
            if (b % 2 == 1 && t < 0.2) x[at + i] += 0.5 * std::exp(-t / 0.05) * noise(rng);
        }
    }
    std::vector<int16_t> out(x.size());
    for (size_t i = 0; i < x.size(); ++i)
        out[i] = static_cast<int16_t>(std::lround(std::clamp(x[i] * 20000.0, -32768.0, 32767.0)));
    return out;
}

// Share of the bars with four kicks a beat apart and two snares two beats apart.
double shareOfBeatBars(const std::vector<RhythmPattern>& bars) {
    int32_t good = 0;
    for (const RhythmPattern& bar : bars) {
        std::vector<int32_t> kicks, snares;
        for (int32_t k = 0; k < 16; ++k) {
            if (bar.Value(k, 0) > 0.0) kicks.push_back(k);
            if (bar.Value(k, 1) > 0.0) snares.push_back(k);
        }
        good += kicks.size() == 4 && kicks[1] - kicks[0] == 4 && kicks[3] - kicks[2] == 4 &&
                kicks[2] - kicks[1] == 4 && snares.size() == 2 && snares[1] - snares[0] == 8;
    }
    return bars.empty() ? 0.0 : static_cast<double>(good) / bars.size();
}

}  // namespace

TEST(TempoAnalyser, DrumTracksThroughTheSearch) {
    for (double bpm : {90.0, 120.0, 150.0}) {
        SCOPED_TRACE(bpm);
        auto song = test::songOf(drums(bpm, 40.0), kRate);
        // Step 2 runs step 1 first.
        song->RunStep(2);
        ASSERT_TRUE(song->StepDone(1));
        const TempoResults& r = song->Results().tempo;
        EXPECT_FALSE(r.fallback);
        EXPECT_NEAR(r.tempo, bpm, bpm * 0.01);
        EXPECT_EQ(song->Features()[kTempo], r.tempo);
        EXPECT_EQ(r.beatsPerBar, 4);

        // The final fill: a pattern per bar started within the song.
        ASSERT_TRUE(song->RhythmPatternsEnabled());
        const std::vector<RhythmPattern>& bars = song->RhythmPatterns();
        const double barMs = 240000.0 / r.tempo;
        EXPECT_NEAR(static_cast<double>(bars.size()), std::ceil((40000.0 - r.phase) / barMs), 1.0);
        // The first and last bars reach past the song's ends.
        EXPECT_GE(shareOfBeatBars({bars.begin() + 1, bars.end() - 1}), 0.9);
        // Nearly every kick and snare counted once.
        const double kicks = std::ceil(40.0 * bpm / 60.0);
        EXPECT_NEAR(r.onsetCount2, kicks, 0.05 * kicks);
        EXPECT_NEAR(r.onsetCount1, kicks / 2.0, 0.05 * kicks / 2.0);
        EXPECT_GT(r.onsetMeasure2, 0.0);
        EXPECT_LT(r.onsetMeasure2, 1.0);
        EXPECT_GT(r.levelPeakRate, 0.0);
    }
}

TEST(TempoAnalyser, NineMinutesOfBars) {
    // 288 bars: the score of the right grid passes 2^31.
    auto song = test::songOf(drums(128.0, 540.0), kRate);
    song->RunStep(1);
    const TempoResults& r = song->Results().tempo;
    EXPECT_FALSE(r.fallback);
    EXPECT_NEAR(r.tempo, 128.0, 1.28);
    EXPECT_GT(song->Tempo().beatScore, int64_t{1} << 31);
}

TEST(TempoAnalyser, DenseEventsLeaveNoVoiceBehind) {
    // Noise bursts every 70 ms for three seconds, then every 500 ms.
    std::vector<int16_t> x(10 * kRate, 0);
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> noise(-26000, 26000);
    auto burst = [&](double t) {
        for (int32_t i = 0; i < 0.015 * kRate; ++i) x[static_cast<size_t>(t * kRate) + i] = noise(rng);
    };
    for (double t = 0.1; t < 3.0; t += 0.07) burst(t);
    for (double t = 3.5; t < 9.9; t += 0.5) burst(t);
    auto song = test::songOf(x, kRate);
    TempoAnalyser analyser;
    analyser.SetUp(*song);
    analyser.TempoSearch();  // builds the spectra
    // At 60 bpm a sixteenth lasts 250 ms and holds three or four dense bursts.
    analyser.beat.tempo = 60.0;
    analyser.beat.phase = 0;
    analyser.fill.mode5Threshold = 0.09;
    BarPatterns bars;
    analyser.Fill(bars, kFillOnsets);
    // Each of the 13 sparse bursts still finds its step.
    EXPECT_GE(analyser.counts.count1, 13);
    EXPECT_EQ(bars.Count(), 3);
}

// The style classifier lives for the process: drums, then a sustained tone
// that takes the fallback (its bars are disabled, so it must not show the
// drums' styles), then the drums again.
TEST(TempoAnalyser, SustainedToneBetweenDrumTracksTakesTheFallback) {
    auto analysed = [](const std::vector<int16_t>& samples) {
        auto song = test::songOf(samples, kRate);
        song->Analyze();
        return song;
    };
    const auto drumTrack = drums(120.0, 20.0);
    const FeatureVector first = analysed(drumTrack)->Features();
    EXPECT_GT(first[kStyleBest], 0.5);
    EXPECT_GT(first[kRepeatCoverage], 50.0);

    const auto tone = analysed(test::sine(440.0, kRate, 20.0, 16000.0));
    const TempoResults& r = tone->Results().tempo;
    EXPECT_TRUE(r.fallback);
    EXPECT_FALSE(tone->RhythmPatternsEnabled());
    EXPECT_TRUE(tone->RhythmPatterns().empty());
    EXPECT_GE(r.tempo, 40.0);
    EXPECT_LE(r.tempo, 190.0);
    EXPECT_EQ(r.onsetCount2, 0);
    EXPECT_EQ(tone->Features()[kStyleBest], 0.0);
    EXPECT_EQ(tone->Features()[kStyleSecond], 0.0);

    const FeatureVector again = analysed(drumTrack)->Features();
    EXPECT_EQ(std::memcmp(first.data(), again.data(), sizeof(first)), 0);
}
