#include "analysis/BarDynamics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "dsp/SignalObj.h"
#include "support/Signals.h"

namespace {

double db(double level) { return 20.0 * std::log10(level + 1.0); }

// Whole bars at 120 beats per minute (8000 samples at 4000 Hz), each a square
// wave of the given amplitude.
std::unique_ptr<SignalObj> bars(const std::vector<int>& amplitudes) {
    std::vector<int16_t> x;
    for (int a : amplitudes)
        for (int j = 0; j < 8000; ++j) x.push_back(static_cast<int16_t>(j % 2 ? -a : a));
    return test::signalOf(x, 4000);
}

}  // namespace

TEST(BarDynamics, FadeOutAndLevelChangesAtTheTempo) {
    std::vector<int> levels(20, 8000);
    levels.resize(30, 16000);
    for (int a : {12000, 9000, 6000, 4000, 2000, 1000, 0, 0}) levels.push_back(a);
    auto song = bars(levels);

    const BarDynamics at120 = ComputeBarDynamics(*song, 120.0);
    EXPECT_EQ(at120.fadeOutBars, 6);  // bars 29 .. 35 fall; bar 28 equals bar 29
    // Half-bar windows of 8: the step up to 16000, then the fall into the fade.
    const double a1 = db(8000), b1 = db(16000);
    const double a2 = db(16000), b2 = (db(12000) + db(9000) + db(6000) + db(4000)) / 4.0;
    EXPECT_NEAR(at120.levelChangeSum, (std::fabs(a1 - b1) + std::fabs(a2 - b2)) / 128.0, 1e-6);
    EXPECT_NEAR(at120.levelChangeFloor, b2, 1e-6);

    // At 60 the fade is three bars, not more than the minimum of four: 0.
    EXPECT_EQ(ComputeBarDynamics(*song, 60.0).fadeOutBars, 0);
    const BarDynamics none = ComputeBarDynamics(*song, 0.0);
    EXPECT_EQ(none.fadeOutBars, 0);
    EXPECT_EQ(none.levelChangeSum, 0.0);
}
