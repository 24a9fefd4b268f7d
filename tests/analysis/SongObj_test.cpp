#include "analysis/SongObj.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "analysis/AnalysisResults.h"
#include "dsp/QuorbixError.h"
#include "dsp/StopFlags.h"
#include "support/Signals.h"

namespace {

// Ten seconds of two tones over noise with a beat every half second.
std::unique_ptr<SongObj> beatingSong() {
    const int32_t rate = 22050;
    auto a = test::sine(220.0, rate, 10.0, 12000.0);
    const auto b = test::sine(1760.0, rate, 10.0, 6000.0);
    const auto n = test::noise(rate, 10.0, 3000.0, 9);
    for (size_t i = 0; i < a.size(); ++i) {
        const double env = 0.4 + 0.6 * std::exp(-static_cast<double>(i % (rate / 2)) / (0.05 * rate));
        a[i] = static_cast<int16_t>(std::lround(env * (a[i] + b[i]) + n[i]));
    }
    return test::songOf(a, rate);
}

}  // namespace

TEST(SongObj, AnalyzeRunsThePipelineSteps) {
    auto song = beatingSong();
    song->Analyze();
    // Every step but the 14th, which feeds no slot.
    for (int step = 1; step <= SongObj::kStepCount; ++step)
        EXPECT_EQ(song->StepDone(step), step != 14) << "step " << step;

    const AnalysisResults& r = song->Results();
    EXPECT_NEAR(r.level.eventsPer10s, 20.0, 2.0);  // a beat every 500 ms
    EXPECT_GT(r.level.medianToPeak, 0.2);
    EXPECT_LT(r.level.medianToPeak, 1.0);
    EXPECT_GT(r.level.stdDevToPeak, 0.0);
    EXPECT_GT(r.spectrum.maxLevel, r.spectrum.meanLevel);
    // The 220 Hz tone passes the 150 Hz low-pass attenuated.
    EXPECT_LT(r.lowBand.meanDb, -6.0);
    EXPECT_GT(r.lowBand.meanDb, -40.0);
    // Two steady tones make long envelope tracks.
    EXPECT_GT(r.lpc.peakRate, 0.0f);
    EXPECT_GT(r.lpc.longTrackRate, 0.0f);
    EXPECT_GT(r.lpc.meanLongTrackDuration, 200.0f);
}

// The rhythm half on its own thread shares no state with the other: the same
// bits as in order, twice over (the second pair after the first's traces).
TEST(SongObj, BothHalvesAtOnceGiveTheInOrderBits) {
    for (int round = 0; round < 2; ++round) {
        auto inOrder = beatingSong();
        inOrder->Analyze(SongObj::Schedule::kInOrder);
        auto halves = beatingSong();
        halves->Analyze(SongObj::Schedule::kTwoHalves);
        const FeatureVector a = inOrder->Features();
        const FeatureVector b = halves->Features();
        for (size_t id = 0; id < a.size(); ++id)
            EXPECT_EQ(std::memcmp(&a[id], &b[id], sizeof a[id]), 0) << "feature " << id << ": " << a[id] << " vs " << b[id];
    }
}

TEST(SongObj, StopRequestAndUnknownSteps) {
    for (auto schedule : {SongObj::Schedule::kInOrder, SongObj::Schedule::kTwoHalves}) {
        auto song = beatingSong();
        gStopAnalysis = true;
        song->Analyze(schedule);
        gStopAnalysis = false;
        // Only the first step runs: the request is tested between steps.
        for (int step = 1; step <= SongObj::kStepCount; ++step) EXPECT_EQ(song->StepDone(step), step == 1) << step;
        EXPECT_THROW(song->RunStep(14), QuorbixError);
        EXPECT_FALSE(song->StepDone(14));
    }
}
