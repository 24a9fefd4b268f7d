#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <future>
#include <thread>

#include "analysis/AnalysisResults.h"
#include "analysis/IntervalPatterns.h"
#include "analysis/NoteConcentration.h"
#include "analysis/PitchBends.h"
#include "dsp/FrameTracker.h"
#include "analysis/SongObj.h"
#include "support/Signals.h"
#include "support/SpectraFixtures.h"

namespace {

// 10 ms hops and 5 Hz bins: bin k is k * 5 Hz, frame f starts at f * 10 ms.
test::SyntheticSpectrum handSpectrum(int32_t frames) { return test::SyntheticSpectrum(frames, 1000, 10000, 100); }

// A track gliding from bin `from` to bin `to` over `frames` frames from `first`.
void glide(test::SyntheticSpectrum& s, int32_t first, int32_t frames, int32_t from, int32_t to) {
    for (int32_t i = 0; i < frames; ++i) s.at(first + i, from + (to - from) * i / (frames - 1)) = 0.1f;
}

// The walk must end by itself; a hang fails the test instead of the run.
int32_t clustersOf(std::vector<BendRecord> bends) {
    auto result = std::make_shared<std::promise<int32_t>>();
    auto answer = result->get_future();
    std::thread([result, bends] { result->set_value(CountIntervalClusters(bends)); }).detach();
    if (answer.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        ADD_FAILURE() << "the cluster walk did not end";
        return -1;
    }
    return answer.get();
}

// Note concentration of 5 s of equally loud tones, through the song's step
// (on its shared 4096-sample spectra) into the feature the record keeps.
NoteConcentration concentrationOf(std::initializer_list<double> hz) {
    std::vector<int16_t> x(5 * 22050, 0);
    for (double f : hz) {
        const auto tone = test::sine(f, 22050, 5.0, 6000.0);
        for (size_t i = 0; i < x.size(); ++i) x[i] = int16_t(x[i] + tone[i]);
    }
    auto song = test::songOf(x, 22050);
    song->RunStep(13);
    const NoteConcentration c = song->Results().noteConcentration;
    EXPECT_EQ(song->Features()[kVoiceRangeConcentration], c.voiceRange);
    return c;
}

}  // namespace

TEST(PitchBends, SemitoneAndDurationLimits) {
    // Bin 100 (500 Hz) is semitone 50; bin 112 (560 Hz) 52; bin 119 (595 Hz) 53.
    auto s = handSpectrum(120);
    glide(s, 0, 40, 100, 112);   // 400 ms, 2 semitones: no bend
    glide(s, 50, 40, 100, 119);  // 400 ms, 3 semitones: a short bend
    glide(s, 100, 10, 100, 119);  // 100 ms: too short for the short class
    const auto tracker = FrameTracker::Track(s, 0.0075f, 0.043f);
    const auto bends = FindBends(*tracker, {200.0, 1700.0, 100.0, 400.0});
    ASSERT_EQ(bends.size(), 1u);
    EXPECT_FLOAT_EQ(bends[0].time, 500.0f);
    EXPECT_EQ(bends[0].note, 50);
    EXPECT_TRUE(FindBends(*tracker, {200.0, 1700.0, 800.0, 4000.0}).empty());
    EXPECT_TRUE(FindBends(*tracker, {600.0, 1700.0, 100.0, 400.0}).empty());  // starts below the band
}

TEST(PitchBends, ConsonantClusters) {
    EXPECT_EQ(clustersOf({{0.0f, 60}, {100.0f, 67}}), 1);  // a fifth
    EXPECT_EQ(clustersOf({{0.0f, 60}, {100.0f, 62}}), 0);  // a second
    EXPECT_EQ(clustersOf({{0.0f, 60}, {150.0f, 67}}), 0);  // too far apart
    EXPECT_EQ(clustersOf({{0.0f, 60}}), 0);
    // A fifth and a fourth down chain into one cluster; the bend 150 ms
    // after the first ends it and starts no cluster of its own.
    EXPECT_EQ(clustersOf({{0.0f, 60}, {50.0f, 67}, {100.0f, 62}, {150.0f, 66}}), 1);
    // The second that breaks the first walk starts the next, which finds a fifth.
    EXPECT_EQ(clustersOf({{0.0f, 60}, {50.0f, 62}, {100.0f, 69}}), 1);
}

// A 300 ms glide from 300 to 400 Hz moves one 21.5 Hz bin every few frames,
// a step of 0.07 in natural logarithms (0.03 in decimal ones): one short bend.
TEST(PitchBends, GlideAcrossBinsOnARealSpectrum) {
    const int32_t rate = 22050;
    std::vector<int16_t> samples(rate, 0);
    const int32_t start = rate / 4, length = int32_t(0.3 * rate);
    double phase = 0.0;
    for (int32_t i = 0; i < length; ++i) {
        phase += 2.0 * M_PI * (300.0 + 100.0 * i / length) / rate;
        samples[start + i] = static_cast<int16_t>(std::lround(20000.0 * std::sin(phase)));
    }
    auto song = test::songOf(samples, rate);
    const PitchBends r = ComputePitchBends(*song);
    EXPECT_EQ(r.shortBends, 1);
    EXPECT_EQ(r.longBends, 0);
}

TEST(IntervalPatterns, MatchLengthOnHandMadeNotes) {
    for (const IntervalPattern& p : kIntervalPatterns)
        for (int32_t i = 0; i < 13; ++i) EXPECT_EQ(p.steps[i] != 0, i < p.length);
    const IntervalPattern& first = kIntervalPatterns[0];  // 3, 4, 5, 3, 4, 3, ...
    auto notes = [](std::initializer_list<int32_t> semitones) {
        std::vector<SoundingNote> v;
        for (int32_t s : semitones) v.push_back({s, 0.0f});
        return v;
    };
    EXPECT_EQ(MatchLength(notes({60}), first), 0);
    EXPECT_EQ(MatchLength(notes({45, 48, 52, 57, 60, 64}), first), 5);
    // 7 = 3 + 4: the first two steps carry over to the next note.
    EXPECT_EQ(MatchLength(notes({60, 67, 72}), first), 2);
    // A note between the steps is skipped.
    EXPECT_EQ(MatchLength(notes({60, 61, 63, 67}), first), 2);

    std::vector<SoundingNote> merged = {{67, 900.0f}, {60, 500.0f}, {67, 1200.0f}, {60, 300.0f}, {64, 1.0f}, {64, 1.0f}};
    SortAndMergeNotes(merged);
    ASSERT_EQ(merged.size(), 3u);
    EXPECT_EQ(merged[0].semitone, 60);
    EXPECT_EQ(merged[0].endTime, 500.0f);  // of two notes, the later end stays
    EXPECT_EQ(merged[1].semitone, 64);
    EXPECT_EQ(merged[2].semitone, 67);
    EXPECT_EQ(merged[2].endTime, 1200.0f);
}

TEST(IntervalPatterns, PatternValuesCountFramesOfLongMatches) {
    // Semitones 45, 48, 52, 57, 60, 64 (steps 3, 4, 5, 3, 4): pattern 0 matches 5 steps.
    auto run = [](int32_t noteFrames) {
        auto s = handSpectrum(100);
        for (int32_t bin : {74, 88, 111, 148, 176, 222})
            for (int32_t f = 10; f < 10 + noteFrames; ++f) s.at(f, bin) = 0.1f;
        s.at(80, 300) = 0.1f;  // notes end only at a frame with a peak
        return PatternValues(*FrameTracker::Track(s, 0.005f, 0.04f), 300.0, 1900.0);
    };
    // The chord is the list from frame 10 to frame 79: 70 of 100 frames.
    EXPECT_FLOAT_EQ(run(60)[0], 70.0f * (5.0f / 13.0f) / 100.0f);
    for (float v : run(50)) EXPECT_EQ(v, 0.0f);  // 500 ms notes are not long enough
}

TEST(NoteConcentration, NeedsThreeNeighbouringSemitones) {
    const NoteConcentration none = concentrationOf({3000.0});
    EXPECT_EQ(none.voiceRange, 0.0);
    EXPECT_EQ(none.wideRange, 0.0);
    const NoteConcentration single = concentrationOf({587.33});
    EXPECT_EQ(single.voiceRange, 0.0);
    EXPECT_GT(single.wideRange, 0.0);
    // Semitones 53, 54 and 55, some six bins apart.
    const NoteConcentration three = concentrationOf({587.33, 622.25, 659.26});
    EXPECT_TRUE(std::isfinite(three.voiceRange));
    EXPECT_GT(three.voiceRange, 1.0);
}
