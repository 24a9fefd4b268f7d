#include "dsp/SpectralStatistics.h"

#include <gtest/gtest.h>

#include "support/SpectraFixtures.h"

namespace {

// 8 bins of 1000 Hz (rate 16000), hop 160 samples = 10 ms; rows as given.
struct EightBins : test::SyntheticSpectrum {
    EightBins(int32_t frames, std::initializer_list<std::vector<float>> rows = {})
        : SyntheticSpectrum(frames, 8, 16000, 160) {
        int32_t f = 0;
        for (const auto& row : rows) std::copy(row.begin(), row.end(), Frame(f++));
    }
};

}  // namespace

TEST(SpectralStatistics, CentroidAndFlatnessOfHandMadeFrames) {
    EightBins s(3, {{0, 0, 1, 0, 1, 0, 0, 0}, {9, 1, 4, 2, 0, 0, 0, 0}});
    EXPECT_DOUBLE_EQ(SpectralCentroid(s, 0, 8000), 3000.0);  // bins 1..7
    EXPECT_DOUBLE_EQ(SpectralCentroid(s, 0, 4000), 2000.0);  // bins 1..3
    EXPECT_DOUBLE_EQ(SpectralCentroid(s, 1, 8000), (1 * 1000.0 + 4 * 2000.0 + 2 * 3000.0) / 7);
    EXPECT_DOUBLE_EQ(SpectralCentroid(s, 2, 8000), 0.0);      // silent
    EXPECT_NEAR(SpectralFlatness(s, 1, 1000, 3000), 2.0 / (7.0 / 3), 1e-12);  // (1*4*2)^(1/3) / (7/3)
    EXPECT_EQ(SpectralFlatness(s, 1, 1000, 5000), 0.0);       // a zero bin
    EXPECT_EQ(SpectralFlatness(s, 2, 0, 8000), 0.0);
}

TEST(SpectralStatistics, WholeSongStatistics) {
    const SpectralStatistics r = ComputeStatistics(EightBins(2, {{0, 0, 1, 0, 1, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 2, 0}}));
    EXPECT_DOUBLE_EQ(r.meanLevel, 0.25);
    EXPECT_DOUBLE_EQ(r.maxLevel, 2.0);
    EXPECT_DOUBLE_EQ(r.percentAboveMean, 100.0 * 3 / 16);
    EXPECT_DOUBLE_EQ(r.percentAudible, 100.0 * 3 / 16);
    EXPECT_NEAR(r.levelStdDev, std::sqrt(5.0 / 15), 1e-12);
    EXPECT_DOUBLE_EQ(r.meanCentroid, 4500.0);
    EXPECT_NEAR(r.centroidStdDev, std::sqrt(2 * 1500.0 * 1500.0), 1e-9);
    EXPECT_EQ(r.meanFlatness, 0.0);
    const SpectralStatistics z = ComputeStatistics(EightBins(3));
    for (double v : {z.meanLevel, z.maxLevel, z.percentAboveMean, z.percentAudible, z.levelStdDev,
                     z.meanCentroid, z.centroidStdDev, z.meanFlatness, z.flatnessStdDev})
        EXPECT_EQ(v, 0.0);
}

TEST(SpectralStatistics, BandLevels) {
    EightBins s(4, {std::vector<float>(8, 1), std::vector<float>(8, 3), {}, {4, 0, 0, 0, 0, 0, 0, 0}});
    EXPECT_DOUBLE_EQ(BandMeanLevel(s, 10, 20, 1000, 2000, false), (3 + 3 + 0 + 0) / 4.0);
    EXPECT_DOUBLE_EQ(BandMeanLevel(s, 30, 20, 0, 1000, false), 4.0 / 4);  // divisor keeps n = 2
    EXPECT_NEAR(BandMeanLevel(s, 0, 10, 0, 999, true), 20 * std::log10(1 + 1e-5), 1e-7);
    EXPECT_EQ(BandMeanLevel(s, 40, 10, 0, 1000, false), 0.0);
}

// Bins 0..3 at level 0.5: frames 0..5 have one loud value (density 0.25),
// frames 6..9 four (density 1). Segments of 20 ms = 2 frames.
TEST(SpectralStatistics, DensityBoundarySearch) {
    EightBins s(10);
    for (int32_t f = 0; f < 10; ++f)
        for (int32_t k = 0; k < (f < 6 ? 1 : 4); ++k) s.at(f, k) = 1.0f;
    double mean = -1;
    ResetDensityAccumulator();
    EXPECT_EQ(FindDensityBoundary(s, mean, 0, 20, 0, 3000, 0.5, 0.0, true, false), 0.0);
    EXPECT_DOUBLE_EQ(mean, 0.25);
    EXPECT_DOUBLE_EQ(FindDensityBoundary(s, mean, 0, 20, 0, 3000, 0.5, 0.5, true, false), 60.0);
    EXPECT_EQ(gDensityAccumulator.count, 0);  // mean below the threshold
    EXPECT_DOUBLE_EQ(FindDensityBoundary(s, mean, 0, 20, 0, 3000, 0.5, 0.5, true, true), 50.0);

    // Never below 0.2: no boundary. The last segment reaches the last frame and
    // counts one frame less than it visited: 8 values / (1 x 4) = 2.
    EXPECT_EQ(FindDensityBoundary(s, mean, 0, 20, 0, 3000, 0.5, 0.2, false, false), -1.0);
    EXPECT_DOUBLE_EQ(mean, (0.25 * 3 + 1.0 + 2.0) / 5);
    EXPECT_EQ(gDensityAccumulator.count, 5);
    EXPECT_DOUBLE_EQ(gDensityAccumulator.sum, 3.75);
    EXPECT_EQ(FindDensityBoundary(s, mean, 0, 20, 0, 3000, 0.5, 5.0, true, false), -1.0);
    EXPECT_DOUBLE_EQ(mean, 0.75);
    EXPECT_EQ(gDensityAccumulator.count, 5);  // mean below the threshold: not added
    ResetDensityAccumulator();
    EXPECT_EQ(gDensityAccumulator.count, 0);
    // Sliding by a frame: nine segments, the last one reaching the last frame.
    EXPECT_EQ(FindDensityBoundary(s, mean, 0, 20, 0, 3000, 0.5, 0.2, false, true), -1.0);
    EXPECT_DOUBLE_EQ(mean, (0.25 * 5 + 0.625 + 1.0 + 1.0 + 2.0) / 9);
    EXPECT_EQ(gDensityAccumulator.count, 9);

    // Densities are cut to five decimals: 1/3 becomes 0.33333 < 0.333333.
    EightBins t(4);
    t.at(1, 0) = 1.0f;
    EXPECT_EQ(FindDensityBoundary(t, mean, 10, 10, 0, 2000, 0.5, 0.33333, true, false), 10.0);
    EXPECT_EQ(FindDensityBoundary(t, mean, 10, 10, 0, 2000, 0.5, 0.333333, true, false), -1.0);
}
