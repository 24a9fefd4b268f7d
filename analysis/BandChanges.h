#pragma once

class FrameData;

// Step 9: how much of the spectrum changes from frame to frame, and how
// often many bands rise at once.
struct BandChanges {
    double changeShare = 0.0;  // x kChangeShareFactor
    double onsetRate = 0.0;    // x kOnsetRateFactor
};

// The factors put the median of a set of real songs at the centres of the
// result slots (2918.44 and 655.745): raw values are a percentage and a
// count per minute.
inline constexpr double kChangeShareFactor = 56.55;
inline constexpr double kOnsetRateFactor = 2.874;

// From 4096-sample Hamming spectra at overlap 0.5, split into 400 bands
// spaced logarithmically from 50 to 10000 Hz. Between two frames, a band is
// audible when either level is above -60 dB, changes when they differ by
// more than 6 dB and rises when the later one is more than 6 dB higher.
// changeShare: 100 x the mean share of changing audible bands over the pairs
// with any audible band; onsetRate: pairs in which more than a quarter of the
// audible bands rise, per minute of song. Both 0 for songs under 10 s.
BandChanges ComputeBandChanges(const FrameData& spectrum, double songMs);
