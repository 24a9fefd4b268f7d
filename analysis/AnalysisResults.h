#pragma once
#include <cstdint>

#include "analysis/BandChanges.h"
#include "analysis/BarDynamics.h"
#include "analysis/IntervalPatterns.h"
#include "analysis/LPCFeatures.h"
#include "analysis/LevelFeatures.h"
#include "analysis/LowBandLevel.h"
#include "analysis/NoteConcentration.h"
#include "analysis/PitchBends.h"
#include "analysis/SpectralSegments.h"
#include "analysis/StyleObj.h"
#include "analysis/TempoAnalyser.h"
#include "dsp/SpectralStatistics.h"

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
    IntervalPatterns intervalPatterns;    // step 12
    NoteConcentration noteConcentration;  // step 13
};
