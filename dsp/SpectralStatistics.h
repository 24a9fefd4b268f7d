#pragma once
#include <cstdint>

class FrameData;

// Read-only analyses of computed magnitude spectra (an FFTObj's rows): they
// use the rows, the bin spacing, the hop and the frame count. Frequencies in
// Hz map to bins as trunc(f / bin spacing).

// Whole-song results, in this order.
struct SpectralStatistics {
    double meanLevel = 0.0;
    double maxLevel = 0.0;
    double percentAboveMean = 0.0;
    double percentAudible = 0.0;      // values above 0.001
    double levelStdDev = 0.0;
    double meanCentroid = 0.0;        // Hz, up to 8000 Hz
    double centroidStdDev = 0.0;
    double meanFlatness = 0.0;        // 250 to 8000 Hz
    double flatnessStdDev = 0.0;
};

// Magnitude-weighted mean frequency of bins 1 .. bin(fmax) - 1 of frame i; 0 for a silent frame.
double SpectralCentroid(const FrameData& spectrum, int32_t i, double fmax);
// Geometric over arithmetic mean of bins bin(f1) .. bin(f2) of frame i; 0 when quiet.
double SpectralFlatness(const FrameData& spectrum, int32_t i, double f1, double f2);
// All zeros when there are no frames.
SpectralStatistics ComputeStatistics(const FrameData& spectrum);
// Per segment j of `length` samples from start + j * length: mean of frame
// means, maximum value, and the percentages of values above the segment's
// mean and above the whole song's mean. Segments must lie within the frames.
void SegmentStatistics(const FrameData& spectrum, int32_t start, int32_t length, int32_t count,
                       double* mean, double* maximum, double* percentAboveSegmentMean,
                       double* percentAboveSongMean);
// Mean value (or mean dB, 20 log10(v + 1e-5)) of bins bin(f1) .. bin(f2)
// over trunc(durationMs / hop ms) frames from startMs; 0 when start is past the end.
double BandMeanLevel(const FrameData& spectrum, double startMs, double durationMs, double f1,
                     double f2, bool decibels);
// Walks segments of trunc(segmentMs / hop ms) frames from t0 (contiguous, or
// sliding by one frame) until the share of band values above `level` crosses
// `threshold` (reaching it when `above`, falling below it otherwise). Returns
// the crossing segment's start in ms, or -1.0; meanDensity gets the mean
// density of the segments passed. Threshold 0: the first segment's density,
// returning t0. Feeds the density accumulator.
double FindDensityBoundary(const FrameData& spectrum, double& meanDensity, double t0,
                           double segmentMs, double f1, double f2, double level,
                           double threshold, bool above, bool sliding);

// Sum of the densities of segments passed by FindDensityBoundary searches
// whose mean reached their threshold. Readers reset it first. One per thread:
// the rhythm steps' searches run beside the step that reads it.
struct DensityAccumulator {
    double sum = 0.0;
    int32_t count = 0;
};
extern thread_local DensityAccumulator gDensityAccumulator;
void ResetDensityAccumulator();
