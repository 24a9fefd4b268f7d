#pragma once
#include <cstdint>

#include "analysis/BarDynamics.h"
#include "analysis/LPCFeatures.h"
#include "analysis/LevelFeatures.h"
#include "analysis/LowBandLevel.h"
#include "dsp/SpectralStatistics.h"

// What the tempo analyser of step 1 hands to the rest of the analysis; until
// it runs, its starting values.
struct TempoResults {
    double tempo = 120.0;  // beats per minute
    int32_t onsetCount1 = 0;
    double onsetMeasure1 = 0.0;
    int32_t onsetCount2 = 0;
    double onsetMeasure2 = 0.0;
    double levelPeakRate = 0.0;  // level peaks per second
};

// Step 3: how well the bar patterns match the drum styles.
struct StyleScores {
    double best = 0.0;
    double second = 0.0;
};

// Step 8: busy and quiet stretches of the 2100-2600 Hz band.
struct SpectralSegments {
    double busyShare = 0.0;
    double busyDensity = 0.0;
    double wideBandFill = 0.0;
};

// Step 9: how the levels of narrow bands change from frame to frame.
struct BandChanges {
    double changeShare = 0.0;
    double onsetRate = 0.0;
};

// Step 10: notes whose pitch moves, and consonant clusters of them.
struct PitchBends {
    int32_t shortBends = 0;
    int32_t longBends = 0;
    int32_t intervalClusters = 0;
};

// Step 13: how the tracks concentrate on a few neighbouring semitones.
struct NoteConcentration {
    double voiceRange = 0.0;
    double wideRange = 0.0;
};

// Every step's results, at their starting values until the step runs.
struct AnalysisResults {
    TempoResults tempo;                   // step 1
    BarDynamics barDynamics;              // step 2
    StyleScores style;                    // step 3
    double repeatCoverage = 0.0;          // step 4
    LevelFeatures level;                  // step 5
    SpectralStatistics spectrum;          // step 6
    LowBandLevel lowBand;                 // step 7
    SpectralSegments segments;            // step 8
    BandChanges bandChanges;              // step 9
    PitchBends pitchBends;                // step 10
    LPCValues lpc;                        // step 11
    double intervalPatternMean = 0.0;     // step 12
    NoteConcentration noteConcentration;  // step 13
};
