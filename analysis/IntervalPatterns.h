#pragma once
#include <array>
#include <cstdint>
#include <vector>

class FrameTracker;
class SignalObj;

// Step 12: how long the notes sounding together follow one of twelve
// interval patterns.
struct IntervalPatterns {
    double mean = 0.0;          // of the twelve pattern values
    double meanOf0to2 = 0.0;    // patterns 0-2
    double meanOf3to5 = 0.0;    // patterns 3-5
};

// A pattern: `length` semitone steps.
struct IntervalPattern {
    int32_t length;
    std::array<int32_t, 13> steps;
};
inline constexpr int32_t kPatternCount = 12;
extern const std::array<IntervalPattern, kPatternCount> kIntervalPatterns;

// A note sounding at the current frame.
struct SoundingNote {
    int32_t semitone;
    float endTime;  // ms
};

// Sorts by semitone and keeps one note per semitone: the one that ends
// later (of two ending together, the first).
void SortAndMergeNotes(std::vector<SoundingNote>& notes);

// The longest run of the pattern's steps, from any start step (up to the
// third last), that the notes above any one note follow. A note further
// than the step stays unmatched while the following steps add up towards it.
int32_t MatchLength(const std::vector<SoundingNote>& notes, const IntervalPattern& pattern);

// Per pattern: over the frames, how long each match length of at least 5
// lasted, weighted by the share of the pattern matched, per tracker frame.
// Notes are the tracks longer than 500 ms starting in [lowHz, highHz].
std::array<float, kPatternCount> PatternValues(const FrameTracker& tracker, double lowHz, double highHz);

// LPC envelopes (order 340, 2048 bins, 4096-sample frames, overlap 0.3),
// tracked and matched in 300-1900 Hz.
IntervalPatterns ComputeIntervalPatterns(SignalObj& song);
