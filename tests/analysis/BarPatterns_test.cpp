#include "analysis/BarPatterns.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

namespace {

// Kick on the beats, snare on 2 and 4.
constexpr uint64_t kBeat = BarPatterns::Onset(0, 0) | BarPatterns::Onset(4, 0) | BarPatterns::Onset(8, 0) |
                           BarPatterns::Onset(12, 0) | BarPatterns::Onset(4, 1) | BarPatterns::Onset(12, 1);

void addBars(BarPatterns& list, uint64_t onsets, int32_t n) {
    for (int32_t i = 0; i < n; ++i) list.Add(onsets, 4, 2000.0, 2000.0 * list.Count(), list.Count() + 1);
}

double equalBars(double p) { return (0.8 * p * p + 2000.0) * p * p; }

}  // namespace

TEST(BarPatterns, EqualBarsScoreInSixtyFourBits) {
    BarPatterns list;
    addBars(list, kBeat, 250);
    const double score = list.Score(1.1);
    EXPECT_DOUBLE_EQ(score, equalBars(250));
    // Past 2^31: a 32-bit score would wrap and lose to worse candidates.
    EXPECT_GT(static_cast<int64_t>(score), int64_t{1} << 31);

    // The song's list keeps one pattern per bar, with the onsets as 1.0.
    ASSERT_EQ(list.Patterns().size(), 250u);
    const RhythmPattern& bar = list.Patterns()[3];
    EXPECT_EQ(bar.Value(8, 0), 1.0);
    EXPECT_EQ(bar.Value(12, 1), 1.0);
    EXPECT_EQ(bar.Value(2, 0), 0.0);
}

TEST(BarPatterns, GroupingToleratesOneCell) {
    // Two bars differing in one cell join the group of the first.
    BarPatterns near;
    addBars(near, kBeat, 16);
    addBars(near, kBeat | BarPatterns::Onset(6, 0), 2);
    EXPECT_DOUBLE_EQ(near.Score(1.1), equalBars(18));

    // Two differing cells start a second group: 16 and 2 over 18 bars,
    // both at least the threshold 18 / 18.
    BarPatterns far;
    addBars(far, kBeat, 16);
    addBars(far, kBeat | BarPatterns::Onset(6, 0) | BarPatterns::Onset(7, 1), 2);
    const double base = 0.8 * (16 * 16 + 2 * 2) + 0.2 * (std::pow(1600.0 / 18, 2) + std::pow(200.0 / 18, 2));
    EXPECT_DOUBLE_EQ(far.Score(1.1), base * 9.0 * 9.0);

    // Empty bars join no group but count in the threshold: 36 bars make it
    // 2, so a group of one bar no longer counts as heavy.
    BarPatterns sparse;
    addBars(sparse, kBeat, 17);
    addBars(sparse, BarPatterns::Onset(1, 1), 1);
    addBars(sparse, 0, 18);
    const double w = 18.0;
    const double sparseBase = 0.8 * (17 * 17 + 1) + 0.2 * (std::pow(1700.0 / w, 2) + std::pow(100.0 / w, 2));
    EXPECT_DOUBLE_EQ(sparse.Score(1.1), sparseBase * (w / 2) * (17.0 / 2));
}
