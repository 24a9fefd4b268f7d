#include "analysis/SlotTable.h"

#include <cmath>

// The offsets and scales are fixed constants of the result format: the
// library that reads the records compares songs by these exact values.
const std::array<SlotEntry, kSlotCount> kSlotTable = {{
    {17, -11913.0, 2.75052463695123},
    {41, -1643.0394999999999, 25.769934499679717},
    {20, -655.745, 49.96911909355009},
    {19, -2918.44, 11.227573635229781},
    {0, -110.55175, 382.5898108768437},
    {8, -41.80955, 783.7204657787515},
    {25, -49.9091, 656.5335780448856},
    {55, -528.095, 62.0475482630966},
    {50, -283.5, 115.58024691358024},
    {39, -54.91131, 627.0153346744819},
    {43, -145.051, 225.89985591274797},
    {13, 37.645799999999994, 1196.7057448595745},
    {10, -26.44475, 1239.0739182635496},
    {35, -22.839850000000002, 1631.444909420876},
    {9, -17.5, 1872.4},
    {51, -43.5, 753.264367816092},
    {40, -9.7939361, 3354.15965494913},
    {56, -18.53566, 1223.5102762615782},
    {5, -2.52493, 12977.389472183388},
    {54, -3.75151, 8734.349635213553},
    {6, -3.14045, 10433.855020777279},
    {7, -7.72275, 4242.918649444822},
    {52, -3.5, 9362.000000000002},
    {16, -0.4716449, 71344.26246641211},
    {28, -0.3408635, 96129.38903696055},
    {30, -0.4139287231184951, 80712.17472436745},
    {27, -0.3210585, 102059.28203115633},
    {38, -0.44466031486499996, 73689.9581649155},
    {34, -0.532917, 67734.98045490158},
    {42, -0.3947955, 82997.39991970526},
    {29, -0.1909794207741942, 198755.87357903857},
    {37, -0.137091, 239016.4197503848},
    {33, -0.0059133265, 5656335.2136860285},
    {45, -0.487013, 67281.57153915809},
    {47, -0.1509435, 217081.22575665728},
}};

int16_t NormalizeSlot(double feature, double offset, double scale) {
    const double v = (feature + offset) * scale;
    // Decide on the truncated value in floating point: converting an
    // out-of-range double to an integer type is undefined.
    const double t = std::trunc(v);
    if (std::isnan(v) || t < -32768.0) return -32768;
    if (t > 32767.0) return 32767;
    return static_cast<int16_t>(t);
}

void FillSlots(const FeatureVector& features, int16_t* parameters) {
    for (int32_t i = 0; i < kSlotCount; ++i) {
        const SlotEntry& s = kSlotTable[i];
        parameters[i] = NormalizeSlot(features[s.featureId], s.offset, s.scale);
    }
}
