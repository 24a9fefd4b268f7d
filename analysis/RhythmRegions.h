#pragma once
#include <cstdint>

#include "analysis/Region.h"

class SignalObj;

// Step 4: how much of the song is made of passages that repeat with a period
// of one to eight bars.
struct RhythmRegions {
    double coverage = 0.0;     // percent of the spectral frames in repeating segments
    int32_t segments = 0;      // repeating segments counted
    RegionList runs;           // one RSRegion per run of repeating segments
};

// Walks the song's 2048-sample spectra at a beat-aligned hop for `tempo`
// beats per minute. Nothing repeats (coverage 0) without a tempo.
RhythmRegions ComputeRhythmRegions(SignalObj& song, double tempo);
