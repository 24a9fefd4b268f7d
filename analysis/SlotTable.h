#pragma once
#include <array>
#include <cstdint>

// The 35 result slots of an analysis: which feature each slot carries and the
// fixed shift and scale that spread that feature over the 16-bit range.
struct SlotEntry {
    int32_t featureId;
    double offset;
    double scale;
};

inline constexpr int32_t kSlotCount = 35;
inline constexpr int32_t kFeatureIdCount = 57;  // feature ids run from 0 to 56

extern const std::array<SlotEntry, kSlotCount> kSlotTable;

// Features indexed by feature id; ids no slot reads are ignored.
using FeatureVector = std::array<double, kFeatureIdCount>;

// (feature + offset) * scale, truncated toward zero to int16. Out-of-range
// values clamp; not-a-number maps to the bottom of the range.
int16_t NormalizeSlot(double feature, double offset, double scale);

// Writes all 35 slots of parameters from the features.
void FillSlots(const FeatureVector& features, int16_t* parameters);
