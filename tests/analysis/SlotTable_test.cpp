#include "analysis/SlotTable.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

TEST(SlotTable, NormalisationTruncatesAndClamps) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::pair<double, int16_t> cases[] = {
        {1.9, 1},          {-0.7, 0},         {-1.5, -1},       {40000.0, 32767},
        {-40000.0, -32768}, {32767.9, 32767}, {-32768.9, -32768}, {1e300, 32767},
        {-inf, -32768},    {std::nan(""), -32768}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        EXPECT_EQ(NormalizeSlot(c.first, 0.0, 1.0), c.second);
    }
}

TEST(SlotTable, FillSlotsShiftsAndScalesEachFeature) {
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
