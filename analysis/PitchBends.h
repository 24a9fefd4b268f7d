#pragma once
#include <cstdint>
#include <vector>

class FrameTracker;
class SignalObj;

// Step 10: notes whose pitch moves by more than two semitones, and
// consonant clusters of them.
struct PitchBends {
    int32_t shortBends = 0;        // lasting 100-400 ms
    int32_t longBends = 0;         // lasting 800-4000 ms
    int32_t intervalClusters = 0;  // among the long bends
};

// A bend: its track's start time and the semitone it starts on.
struct BendRecord {
    float time;  // ms
    int32_t note;
};

// Which tracks count: first-peak frequency in (lowHz, highHz), duration in
// (shortestMs, longestMs].
struct BendBand {
    double lowHz;
    double highHz;
    double shortestMs;
    double longestMs;
};

// The bends among the tracker's linked tracks, in track order.
std::vector<BendRecord> FindBends(const FrameTracker& tracker, const BendBand& band);

// Walks the bends from each cluster's first one: the bends less than 150 ms
// after it join while each steps a consonant interval from the one before
// (3, 4, 7, 12, -5, -8, -9, -12 semitones). A cluster with at least two bends
// and only such steps counts. The next walk starts at the bend that ended
// this one.
int32_t CountIntervalClusters(const std::vector<BendRecord>& bends);

// 1024-sample Hamming spectra at overlap 0.5, tracked once, counted in the
// short and the long band (both 200-1700 Hz).
PitchBends ComputePitchBends(SignalObj& song);
