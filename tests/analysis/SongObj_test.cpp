#include "analysis/SongObj.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "analysis/SlotTable.h"
#include "dsp/StopFlags.h"
#include "support/Signals.h"
#include "support/SpectraFixtures.h"

namespace {

double db(double level) { return 20.0 * std::log10(level + 1.0); }

// A song of whole bars (8000 samples at 4000 Hz, one bar at 120 beats per
// minute), each bar a square wave of the given amplitude.
std::unique_ptr<SongObj> barSong(const std::vector<int>& bars) {
    std::vector<int16_t> x;
    for (int a : bars)
        for (int j = 0; j < 8000; ++j) x.push_back(static_cast<int16_t>(j % 2 ? -a : a));
    return test::songOf(x, 4000);
}

// Ten seconds of a prepared-looking song: two tones over noise, 22050 Hz mono.
std::unique_ptr<SongObj> musicSong() {
    const int32_t rate = 22050;
    auto a = test::sine(220.0, rate, 10.0, 12000.0);
    const auto b = test::sine(1760.0, rate, 10.0, 6000.0);
    const auto n = test::noise(rate, 10.0, 3000.0, 9);
    for (size_t i = 0; i < a.size(); ++i) {
        // A beat every half second: the tones swell and fall back.
        const double env = 0.4 + 0.6 * std::exp(-static_cast<double>(i % (rate / 2)) / (0.05 * rate));
        a[i] = static_cast<int16_t>(std::lround(env * (a[i] + b[i]) + n[i]));
    }
    return test::songOf(a, rate);
}

}  // namespace

TEST(SongObj, BarDynamicsAtAGivenTempo) {
    std::vector<int> bars(20, 8000);
    bars.resize(30, 16000);
    for (int a : {12000, 9000, 6000, 4000, 2000, 1000, 0, 0}) bars.push_back(a);
    auto song = barSong(bars);
    song->tempo().tempo = 120.0;
    song->BarDynamics();
    EXPECT_TRUE(song->StepDone(2));

    // Bars 29 .. 35 fall one after the other; bar 28 equals bar 29.
    EXPECT_EQ(song->fadeOutBars, 6);

    // Half-bar windows of 8: the step up to 16000, then the fall into the fade.
    const double a1 = db(8000), b1 = db(16000);
    const double a2 = db(16000), b2 = (db(12000) + db(9000) + db(6000) + db(4000)) / 4.0;
    EXPECT_NEAR(song->levelChangeSum, (std::fabs(a1 - b1) + std::fabs(a2 - b2)) / 128.0, 1e-6);
    EXPECT_NEAR(song->levelChangeFloor, b2, 1e-6);

    // At half the tempo a bar spans two of these: the fade is three bars
    // long, not more than the minimum of four, and reported as 0.
    auto slow = barSong(bars);
    slow->tempo().tempo = 60.0;
    slow->BarDynamics();
    EXPECT_EQ(slow->fadeOutBars, 0);

    // Without a tempo there are no bars and nothing is measured.
    auto none = barSong(bars);
    none->tempo().tempo = 0.0;
    none->BarDynamics();
    EXPECT_EQ(none->fadeOutBars, 0);
    EXPECT_EQ(none->levelChangeSum, 0.0);
}

TEST(SongObj, AnalyzeRunsTheStepsThatExist) {
    auto song = musicSong();
    song->Analyze();
    for (int step : {5, 6, 7, 11}) EXPECT_TRUE(song->StepDone(step)) << "step " << step;
    for (int step : {1, 2, 3, 4, 8, 9, 10, 12, 13, 14}) EXPECT_FALSE(song->StepDone(step)) << "step " << step;

    // Level: a beat every 500 ms gives about 20 events per 10 s.
    EXPECT_NEAR(song->eventsPer10s, 20.0, 2.0);
    EXPECT_GT(song->medianToPeak, 0.2);
    EXPECT_LT(song->medianToPeak, 1.0);
    EXPECT_GT(song->stdDevToPeak, 0.0);
    EXPECT_EQ(song->spectrum().FrameSize(), 512);
    EXPECT_GT(song->spectralStats.maxLevel, song->spectralStats.meanLevel);
    // Low band: the 220 Hz tone passes the 150 Hz low-pass attenuated.
    EXPECT_LT(song->lowBandDb, -6.0);
    EXPECT_GT(song->lowBandDb, -40.0);
    // LPC: two steady tones make long tracks.
    EXPECT_GT(song->lpcValues[0], 0.0f);
    EXPECT_GT(song->lpcValues[1], 0.0f);
    EXPECT_GT(song->lpcValues[2], 200.0f);

    const FeatureVector f = song->Features();
    EXPECT_EQ(f[0], 120.0);  // the tempo analyser's starting tempo
    EXPECT_EQ(f[13], song->lowBandDb);
    EXPECT_EQ(f[41], song->lpcValues[2]);
}

TEST(SongObj, StopRequestEndsThePipeline) {
    auto song = musicSong();
    gStopAnalysis = true;
    song->Analyze();
    gStopAnalysis = false;
    for (int step = 1; step <= SongObj::kStepCount; ++step) EXPECT_FALSE(song->StepDone(step)) << step;
}

TEST(SongObj, FeaturesFromSignalAndTempoAnalyser) {
    auto mono = test::songOf(std::vector<int16_t>(22050 * 4, 100), 22050);
    mono->stereoDifference = 500;  // ignored: the song was never stereo
    mono->tempo().onsetCount1 = 10;
    mono->tempo().onsetCount2 = 6;
    FeatureVector f = mono->Features();
    EXPECT_EQ(f[17], 0.0);
    EXPECT_DOUBLE_EQ(f[6], 2.5);  // counts per second of the 4 s signal
    EXPECT_DOUBLE_EQ(f[5], 1.5);

    const auto left = test::sine(440.0, 22050, 1.0), right = test::sine(660.0, 22050, 1.0);
    auto stereo = test::songOf(test::interleave(left, right), 22050, 2);
    stereo->MixToMono();
    ASSERT_GT(stereo->stereoDifference, 0);
    EXPECT_EQ(stereo->Features()[17], stereo->stereoDifference);
}
