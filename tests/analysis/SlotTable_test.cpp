#include "analysis/SlotTable.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

TEST(SlotTable, FillSlotsShiftsScalesTruncatesAndClamps) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::pair<double, int16_t> cases[] = {
        {1.9, 1},          {-0.7, 0},     {-1.5, -1},     {40000.0, 32767}, {-40000.0, -32768},
        {32767.9, 32767}, {-32768.9, -32768}, {1e300, 32767}, {-inf, -32768},  {std::nan(""), -32768}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        EXPECT_EQ(NormalizeSlot(c.first, 0.0, 1.0), c.second);
    }

    // Each slot shifts and scales its feature.
    FeatureVector f{};
    f[0] = 120.0;                       // slot 4, tempo
    f[13] = -37.645799999999994 + 1.0;  // slot 11: one unit above its offset
    f[19] = 2918.44;                    // slot 3: step 9's neutral value
    f[47] = std::nan("");               // slot 34
    int16_t out[kSlotCount];
    std::fill(out, out + kSlotCount, int16_t{12345});
    FillSlots(f, out);
    EXPECT_EQ(out[4], 3614);
    EXPECT_EQ(out[11], 1196);
    EXPECT_EQ(out[3], 0);
    EXPECT_EQ(out[34], -32768);
    EXPECT_EQ(out[0], -32767);  // stereo difference 0: (0 - 11913) x 2.7505...
    for (int i = 0; i < kSlotCount; ++i) EXPECT_NE(out[i], 12345) << "slot " << i << " not written";
}

// The record format's published constants, copied here independently of the
// table: a wrong digit or sign in one slot corrupts that slot in every record
// while every other test still passes.
TEST(SlotTable, MatchesTheRecordFormat) {
    struct Published {
        int32_t id;
        double offset, scale;
    };
    const Published published[kSlotCount] = {
        {17, -11913.0, 2.75052463695123}, {41, -1643.0394999999999, 25.769934499679717},
        {20, -655.745, 49.96911909355009}, {19, -2918.44, 11.227573635229781},
        {0, -110.55175, 382.5898108768437}, {8, -41.80955, 783.7204657787515},
        {25, -49.9091, 656.5335780448856}, {55, -528.095, 62.0475482630966},
        {50, -283.5, 115.58024691358024}, {39, -54.91131, 627.0153346744819},
        {43, -145.051, 225.89985591274797}, {13, 37.645799999999994, 1196.7057448595745},
        {10, -26.44475, 1239.0739182635496}, {35, -22.839850000000002, 1631.444909420876},
        {9, -17.5, 1872.4}, {51, -43.5, 753.264367816092},
        {40, -9.7939361, 3354.15965494913}, {56, -18.53566, 1223.5102762615782},
        {5, -2.52493, 12977.389472183388}, {54, -3.75151, 8734.349635213553},
        {6, -3.14045, 10433.855020777279}, {7, -7.72275, 4242.918649444822},
        {52, -3.5, 9362.000000000002}, {16, -0.4716449, 71344.26246641211},
        {28, -0.3408635, 96129.38903696055}, {30, -0.4139287231184951, 80712.17472436745},
        {27, -0.3210585, 102059.28203115633}, {38, -0.44466031486499996, 73689.9581649155},
        {34, -0.532917, 67734.98045490158}, {42, -0.3947955, 82997.39991970526},
        {29, -0.1909794207741942, 198755.87357903857}, {37, -0.137091, 239016.4197503848},
        {33, -0.0059133265, 5656335.2136860285}, {45, -0.487013, 67281.57153915809},
        {47, -0.1509435, 217081.22575665728},
    };
    for (int i = 0; i < kSlotCount; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(kSlotTable[i].featureId, published[i].id);
        EXPECT_EQ(kSlotTable[i].offset, published[i].offset);
        EXPECT_EQ(kSlotTable[i].scale, published[i].scale);
        EXPECT_NE(std::string(kSlotTable[i].name), "");
    }
}
