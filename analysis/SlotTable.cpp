#include "analysis/SlotTable.h"

#include <cmath>

#include "dsp/Rounding.h"

// The offsets and scales are fixed constants of the result format: the
// library that reads the records compares songs by these exact values.
const std::array<SlotEntry, kSlotCount> kSlotTable = {{
    {kStereoDifference, "stereo difference", -11913.0, 2.75052463695123},
    {kLPCLongTrackDuration, "mean long-track duration", -1643.0394999999999, 25.769934499679717},
    {kBandOnsetRate, "band onset rate", -655.745, 49.96911909355009},
    {kBandChangeShare, "band level change share", -2918.44, 11.227573635229781},
    {kTempo, "tempo", -110.55175, 382.5898108768437},
    {kLevelChangeFloor, "quietest level-change window", -41.80955, 783.7204657787515},
    {kRepeatCoverage, "rhythm-region coverage", -49.9091, 656.5335780448856},
    {kWideRangeConcentration, "wide-range note concentration", -528.095, 62.0475482630966},
    {kShortBends, "short pitch bends", -283.5, 115.58024691358024},
    {kLPCPeakRate, "envelope peak rate", -54.91131, 627.0153346744819},
    {kLPCLongTrackSpan, "mean long-track span", -145.051, 225.89985591274797},
    {kLowBandDb, "low-band level", 37.645799999999994, 1196.7057448595745},
    {kLevelEventsPer10s, "level events per 10 s", -26.44475, 1239.0739182635496},
    {kSpectralAboveMean, "spectral share above mean", -22.839850000000002, 1631.444909420876},
    {kFadeOutBars, "fade-out length", -17.5, 1872.4},
    {kLongBends, "long pitch bends", -43.5, 753.264367816092},
    {kLPCLongTrackRate, "long-track rate", -9.7939361, 3354.15965494913},
    {kVoiceRangeConcentration, "voice-range note concentration", -18.53566, 1223.5102762615782},
    {kOnsetRate2, "onsets (2) per second", -2.52493, 12977.389472183388},
    {kLevelPeakRate, "level peaks per second", -3.75151, 8734.349635213553},
    {kOnsetRate1, "onsets (1) per second", -3.14045, 10433.855020777279},
    {kLevelChangeSum, "level changes", -7.72275, 4242.918649444822},
    {kIntervalClusters, "interval clusters", -3.5, 9362.000000000002},
    {kWideBandFill, "wide-band fill", -0.4716449, 71344.26246641211},
    {kIntervalPatternMean, "interval patterns", -0.3408635, 96129.38903696055},
    {kMedianLevelToPeak, "median / largest frame level", -0.4139287231184951, 80712.17472436745},
    {kOnsetMeasure2, "onset measure (2)", -0.3210585, 102059.28203115633},
    {kBusyDensityShare, "high-band busy share x density", -0.44466031486499996, 73689.9581649155},
    {kSpectralMaxLevel, "spectral maximum level", -0.532917, 67734.98045490158},
    {kLPCHarmonicFraction, "harmonic fraction", -0.3947955, 82997.39991970526},
    {kLevelDeviationToPeak, "level deviation / largest", -0.1909794207741942, 198755.87357903857},
    {kOnsetMeasure1, "onset measure (1)", -0.137091, 239016.4197503848},
    {kSpectralMeanLevel, "spectral mean level", -0.0059133265, 5656335.2136860285},
    {kStyleBest, "best style score", -0.487013, 67281.57153915809},
    {kStyleSecond, "second style score", -0.1509435, 217081.22575665728},
}};

int16_t NormalizeSlot(double feature, double offset, double scale) {
    const double v = (feature + offset) * scale;
    // Not a number is the record's "no value", the bottom of the range.
    return std::isnan(v) ? -32768 : truncToInt16(v);
}

void FillSlots(const FeatureVector& features, int16_t* parameters) {
    for (int32_t i = 0; i < kSlotCount; ++i) {
        const SlotEntry& s = kSlotTable[i];
        parameters[i] = NormalizeSlot(features[s.featureId], s.offset, s.scale);
    }
}
