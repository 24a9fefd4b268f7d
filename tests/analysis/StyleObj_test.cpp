#include "analysis/StyleObj.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "analysis/AnalysisResults.h"
#include "analysis/RhythmPattern.h"
#include "analysis/SongObj.h"
#include "dsp/MathConstants.h"
#include "dsp/QuorbixError.h"
#include "support/Signals.h"

namespace {

// One 16-step bar with bass-drum hits on `kicks` and snare hits on `snares`.
RhythmPattern bar(std::initializer_list<int> kicks, std::initializer_list<int> snares, double strength = 1.0) {
    RhythmPattern p(4, 2000.0, 0.0, 1);
    for (int k : kicks) p.SetStep(k, 0, strength, 1.0);
    for (int s : snares) p.SetStep(s, 1, strength, 1.0);
    return p;
}

StyleScores classify(StyleObj& style, std::vector<RhythmPattern> bars) {
    style.DetermineFromRhythm(bars);
    return style.Result();
}

// Four on the floor at 120 beats per minute, 20 s: a kick sweeping down from
// 180 Hz on every beat (the downbeat louder), a noise snare on 2 and 4.
std::vector<int16_t> drumTrack(int32_t rate) {
    std::vector<double> x(static_cast<size_t>(20 * rate), 0.0);
    const auto snare = test::noise(rate, 0.2, 20000.0, 4);
    for (size_t b = 0; b < 40; ++b) {
        const size_t start = b * rate / 2;
        double phase = 0.0;
        for (size_t i = 0; i < static_cast<size_t>(0.3 * rate); ++i) {
            const double t = static_cast<double>(i) / rate;
            phase += 2.0 * kPi * (45.0 + 135.0 * std::exp(-t / 0.03)) / rate;
            x[start + i] += (b % 4 == 0 ? 0.9 : 0.6) * std::exp(-t / 0.08) * std::sin(phase);
            if (b % 2 == 1 && i < snare.size()) x[start + i] += 0.4 / 20000.0 * std::exp(-t / 0.05) * snare[i];
        }
    }
    std::vector<int16_t> out(x.size());
    for (size_t i = 0; i < x.size(); ++i) out[i] = static_cast<int16_t>(std::lround(30000.0 * std::clamp(x[i], -1.0, 1.0)));
    return out;
}

}  // namespace

TEST(StyleObj, NamedBeatsAreRecognised) {
    StyleObj style;
    style.Init();
    style.Init();
    EXPECT_EQ(style.Count(), 31);

    StyleScores r = classify(style, std::vector<RhythmPattern>(12, bar({0, 6, 8}, {4, 12})));
    EXPECT_EQ(r.bestPattern, "Standard1");
    EXPECT_EQ(r.bestFamily, "Rock");
    EXPECT_EQ(r.bestId, 3);
    EXPECT_GE(r.best, 0.9);

    r = classify(style, std::vector<RhythmPattern>(12, bar({0, 8}, {4, 12})));
    EXPECT_EQ(r.bestPattern, "TwoTwo");
    EXPECT_EQ(r.bestId, 2);

    // Four kicks on the beats match whatever the snare does.
    r = classify(style, {bar({0, 4, 8, 12}, {1, 2, 7}), bar({0, 4, 8, 12}, {}), bar({0, 4, 8, 12}, {3, 4, 15})});
    EXPECT_EQ(r.bestPattern, "FourFloor");
    EXPECT_EQ(r.bestId, 1);
    EXPECT_EQ(r.best, 1.0);

    // Nothing to classify: no style at all.
    r = classify(style, {});
    EXPECT_EQ(r.bestPattern, "NoDetection");
    EXPECT_EQ(r.secondFamily, "NoDetection");
    EXPECT_EQ(r.bestId + r.secondId, 0);
    EXPECT_EQ(r.best + r.second, 0.0);
}

TEST(StyleObj, RotationsAndSnareShiftsMatchButAnExtraKickDoesNot) {
    StyleObj style;
    style.Init();
    const StyleScores r = classify(style, {
        bar({0, 6, 8}, {4, 12}),
        bar({4, 10, 12}, {8, 0}),         // the bar started on beat 4
        bar({0, 6, 8}, {5, 13}, 0.3),     // snare a sixteenth late, weak onsets
        bar({8, 14, 0}, {11, 3}),         // started on beat 3, snare a sixteenth early
        bar({0, 2, 6, 8}, {4, 12}),       // one kick too many
    });
    EXPECT_EQ(r.bestId, 3);
    EXPECT_EQ(r.best, 0.8);
}

TEST(StyleObj, TiesGoToTheEarlierStyle) {
    StyleObj style;
    style.Init();
    // Both "FourFloor" (any snare) and the "70s" dance beat (snare 4, 9, 12).
    const StyleScores r = classify(style, std::vector<RhythmPattern>(5, bar({0, 4, 8, 12}, {4, 9, 12})));
    EXPECT_EQ(r.bestId, 1);
    EXPECT_EQ(r.secondId, 25);
    EXPECT_EQ(r.secondFamily, "Dance");
    EXPECT_EQ(r.second, 1.0);
}

TEST(StyleObj, ClassifyingBeforeInitIsAProgrammingError) {
    StyleObj style;
    std::vector<RhythmPattern> bars(1, bar({0}, {4}));
    try {
        style.DetermineFromRhythm(bars);
        FAIL() << "no exception";
    } catch (const QuorbixError& e) {
        EXPECT_EQ(e.message(), "Programming error: call StyleObj:Init() first");
        EXPECT_EQ(e.code(), -1);
    }
}

// The classifier lives for the process: A, then a tone that finds no beat
// (its bars are disabled, so it must not show A's styles), then A again.
TEST(StyleObj, SongsAnalysedInOneProcessGiveTheSameFeaturesAgain) {
    const int32_t rate = 22050;
    auto run = [&](const std::vector<int16_t>& samples) {
        auto song = test::songOf(samples, rate);
        song->Analyze();
        for (int step = 1; step <= 4; ++step) EXPECT_TRUE(song->StepDone(step)) << step;
        return song->Features();
    };
    const auto a = drumTrack(rate);
    const FeatureVector first = run(a);
    EXPECT_GT(first[kStyleBest], 0.5);
    EXPECT_GT(first[kRepeatCoverage], 50.0);
    const FeatureVector tone = run(test::sine(220.0, rate, 20.0));
    EXPECT_EQ(tone[kStyleBest], 0.0);
    EXPECT_EQ(tone[kStyleSecond], 0.0);
    const FeatureVector again = run(a);
    EXPECT_EQ(std::memcmp(first.data(), again.data(), sizeof(first)), 0);
}
