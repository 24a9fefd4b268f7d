#pragma once
#include <cstdint>
#include <deque>
#include <memory>

#include "dsp/FrameData.h"

// One spectral peak; linked to the peaks of the neighbouring frames it was
// matched with, it becomes part of a track. The first peak of a track of two
// or more peaks (a track start) carries the track's summary.
struct TrackPeak {
    float magnitude = 0.0f;   // parabolically interpolated
    float frequency = 0.0f;   // Hz, bin frequency
    float time = 0.0f;        // ms, the frame's time
    float endTime = 0.0f;     // track start: end of its last peak (time + hop)
    double magnitudeMin = 0.0, magnitudeMax = 0.0;
    double frequencyMin = 0.0, frequencyMax = 0.0;
    float meanMagnitude = 0.0f;
    float meanFrequency = 0.0f;
    float lastFrequency = 0.0f;
    float hop = 0.0f;         // ms
    TrackPeak* previous = nullptr;
    TrackPeak* next = nullptr;
    TrackPeak* nextInFrame = nullptr;  // next higher peak of the same frame
    bool linked = false;
    bool harmonic = false;

    bool IsTrackStart() const { return previous == nullptr && next != nullptr; }
    bool IsSingle() const { return previous == nullptr && next == nullptr; }
    // Track start: end time minus its time; single peak: the hop. Meaningful
    // for those two only.
    double Duration() const { return next == nullptr ? hop : endTime - time; }
};

struct PeakFrame {
    int32_t peakCount = 0;
    float time = 0.0f;  // ms
    TrackPeak* firstPeak = nullptr;  // lowest frequency
    PeakFrame* next = nullptr;
};

// Picks the spectral peaks of every frame of a spectral FrameData and links
// peaks of successive frames whose log frequencies agree into tracks.
class FrameTracker : public FrameData {
public:
    FrameTracker(float minMagnitude, float tolerance, double unusedRatio = 0.1,
                 double unusedLimit = 200.0);
    ~FrameTracker() override;

    // A tracker run over the rows of `spectral` with the neighbourhood the
    // analyses use (2); its source is the spectral object's source.
    static std::unique_ptr<FrameTracker> Track(const FrameData& spectral, float minMagnitude,
                                               float tolerance, double unusedRatio = 0.1,
                                               double unusedLimit = 200.0);

    // 1: a peak exceeds its two adjacent bins; 2: also the bins two away.
    void SetNeighbourhood(int32_t n) { neighbourhood_ = n; }
    // Frames a track may skip when linking (0, 1 or 2).
    void SetGapFrames(int32_t n) { gapFrames_ = n; }

    // Peak picking, linking and track summaries over the rows of `spectral`
    // (its hop and bin spacing give times and frequencies). Replaces any
    // earlier run.
    void Run(const FrameData& spectral);
    // Peak rate, long tracks (> 200 ms), their duration, harmonic share,
    // span; the same answer however often it is called.
    void ComputeStatistics();

    const PeakFrame* FirstFrame() const { return frames_.empty() ? nullptr : &frames_.front(); }
    PeakFrame* FirstFrame() { return frames_.empty() ? nullptr : &frames_.front(); }
    int32_t PeakCount() const { return static_cast<int32_t>(peaks_.size()); }

    float PeakRate() const { return peakRate_; }
    float LongTrackRate() const { return longTrackRate_; }
    float MeanLongTrackDuration() const { return meanLongTrackDuration_; }
    float HarmonicFraction() const { return harmonicFraction_; }
    float MeanLongTrackSpan() const { return meanLongTrackSpan_; }

    float MinMagnitude() const { return minMagnitude_; }
    float Tolerance() const { return tolerance_; }
    // Kept as the callers hand them over; no computation reads them.
    double RatioSetting() const { return ratioSetting_; }
    double LimitSetting() const { return limitSetting_; }

private:
    void pickPeaks(const float* row, int32_t bins, float time, float hop, double spacing,
                   PeakFrame& frame);
    bool linkTo(TrackPeak& p, PeakFrame& candidates);
    void link();
    void summarise();

    std::deque<PeakFrame> frames_;  // deques: peaks and frames never move once made
    std::deque<TrackPeak> peaks_;
    float minMagnitude_;
    float tolerance_;
    int32_t neighbourhood_ = 1;
    int32_t gapFrames_ = 0;
    double ratioSetting_;
    double limitSetting_;
    float peakRate_ = 0.0f;
    float longTrackRate_ = 0.0f;
    float meanLongTrackDuration_ = 0.0f;
    float harmonicFraction_ = 0.0f;
    float meanLongTrackSpan_ = 0.0f;
};
