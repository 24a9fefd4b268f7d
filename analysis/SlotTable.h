#pragma once
#include <array>
#include <cstdint>

// The analysis features the result slots read, by their fixed ids.
enum FeatureId : int32_t {
    kTempo = 0,
    kOnsetRate2 = 5,
    kOnsetRate1 = 6,
    kLevelChangeSum = 7,
    kLevelChangeFloor = 8,
    kFadeOutBars = 9,
    kLevelEventsPer10s = 10,
    kLowBandDb = 13,
    kWideBandFill = 16,
    kStereoDifference = 17,
    kBandChangeShare = 19,
    kBandOnsetRate = 20,
    kRepeatCoverage = 25,
    kOnsetMeasure2 = 27,
    kIntervalPatternMean = 28,
    kLevelDeviationToPeak = 29,
    kMedianLevelToPeak = 30,
    kSpectralMeanLevel = 33,
    kSpectralMaxLevel = 34,
    kSpectralAboveMean = 35,
    kOnsetMeasure1 = 37,
    kBusyDensityShare = 38,
    kLPCPeakRate = 39,
    kLPCLongTrackRate = 40,
    kLPCLongTrackDuration = 41,
    kLPCHarmonicFraction = 42,
    kLPCLongTrackSpan = 43,
    kStyleBest = 45,
    kStyleSecond = 47,
    kShortBends = 50,
    kLongBends = 51,
    kIntervalClusters = 52,
    kLevelPeakRate = 54,
    kWideRangeConcentration = 55,
    kVoiceRangeConcentration = 56,
};

// The 35 result slots of an analysis: which feature each slot carries, a name
// for people reading records, and the fixed shift and scale that spread that
// feature over the 16-bit range.
struct SlotEntry {
    FeatureId featureId;
    const char* name;
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
