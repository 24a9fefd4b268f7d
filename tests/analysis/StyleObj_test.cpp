#include "analysis/StyleObj.h"

#include <gtest/gtest.h>

#include <vector>

#include "analysis/RhythmPattern.h"
#include "dsp/QuorbixError.h"

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

}  // namespace

TEST(StyleObj, NamedBeatsAreRecognisedAndTiesGoToTheEarlierStyle) {
    StyleObj style;
    try {
        classify(style, {bar({0}, {4})});
        FAIL() << "classified before Init";
    } catch (const QuorbixError& e) {
        EXPECT_EQ(e.message(), "Programming error: call StyleObj:Init() first");
        EXPECT_EQ(e.code(), -1);
    }
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

    // FourFloor (any snare) and the 70s dance beat (snare 4, 9, 12) both match
    // in full: the tie goes to the earlier style.
    r = classify(style, std::vector<RhythmPattern>(5, bar({0, 4, 8, 12}, {4, 9, 12})));
    EXPECT_EQ(r.bestId, 1);
    EXPECT_EQ(r.secondId, 25);
    EXPECT_EQ(r.secondFamily, "Dance");
    EXPECT_EQ(r.second, 1.0);

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
