#pragma once
#include <cstdint>
#include <vector>

#include "dsp/FrameData.h"

// One detected level event: where a burst of energy starts and how strong it is.
struct LevelEvent {
    double timeMs;
    double strength;
};

// Results of Statistics(); mean and standard deviation cover the span asked
// for, the others the whole signal.
struct RMSStatistics {
    float mean = 0.0f;
    float stdDev = 0.0f;
    float median = 0.0f;
    float spread = 0.0f;           // percent of the peak level
    float levelDb = 0.0f;          // whole-signal RMS, dB relative to full scale
    double eventsPerPeriod = 0.0;  // events per 10 seconds
};

// Level changes between windows of frames (see LevelChanges()).
struct LevelChangeResult {
    double sum = 0.0;    // total of the changes in dB, / 128
    double floor = 0.0;  // quietest window compared, dB; 0 when nothing changed
    int32_t count = 0;
};

// RMS levels of consecutive frames of a signal (one value per row), an
// adaptively smoothed copy of the curve, and the queries the analysis asks of
// it. Levels are in sample units (0 .. 32767).
class RMSObj : public FrameData {
public:
    // Filter band the source went through, recorded by the caller; it picks
    // the event detector's rule.
    enum BandType : int32_t { kWholeBand = 0, kLowPass = 1, kBandPass = 3 };

    RMSObj();
    ~RMSObj() override;

    void SetSignal(SignalObj* source) override;  // also discards the frames
    void SetBand(BandType type, double f1, double f2);
    void SetSmoothing(bool on) { smoothing_ = on; }
    void SetEventSettings(double ratio, double floor, int32_t windowMs);
    void SetEventLevels(double levelFactor, double minimumRise);

    // Frames the source: frameMs long, window kRectangular or kTriangular,
    // overlap in [0, 1). A source shorter than one frame gives no frames.
    // Steps that name no window or overlap take the defaults.
    void ComputeFrames(double frameMs, WindowShape window = kRectangular, double overlap = 0.5);
    // Drops frames, smoothed curve and events.
    void Clear();

    float Level(int32_t i) const { return data[i]; }
    float Smoothed(int32_t i) const { return smoothed_[i]; }
    float PeakLevel() const { return peak_; }
    // Level of the frame holding t (ms); 0 outside the frames.
    double LevelAt(double t) const;

    // Replaces the event list from the raw source samples. The band-pass
    // detector keeps its half-wave runs until SetSignal, ComputeFrames, Clear
    // or Statistics: a source changed in place needs SetSignal again.
    void DetectEvents();
    const std::vector<LevelEvent>& Events() const { return events_; }

    // First / last frame above 0.1 and their times (index x step); -1 and 0.0
    // when no frame sounds.
    int32_t FirstSoundingFrame() const;
    int32_t LastSoundingFrame() const;
    double FirstSoundingTime() const;
    double LastSoundingTime() const;

    // Fills Stats(); leaves it untouched when the span reaches past the last
    // frame. Mean and deviation cover the span (NaN for a span of no frame),
    // the rest every frame.
    void Statistics(double startMs, double lengthMs);
    const RMSStatistics& Stats() const { return stats_; }
    // Mean level over a span by the same rule; `otherwise` when the span
    // reaches past the last frame.
    double SpanMean(double startMs, double lengthMs, double otherwise) const;
    // Mean of 20 log10(level / 32767) over the span's frames, a silent frame
    // counting as 20 log10(1 / 32767); NaN when the span holds no frame.
    double MeanLevelDb(double startMs, double lengthMs) const;

    // Frames of a fading end (each louder than the next, one exception
    // allowed); 0 when `minimum` or fewer.
    int32_t FadeOutLength(int32_t minimum) const;
    // Steps of at least 2 dB between the means of neighbouring windows of
    // `window` frames, from the first sounding frame on.
    LevelChangeResult LevelChanges(int32_t window) const;
    // Time (ms) of the loudest frame in the span when it exceeds the
    // threshold (`threshold`, or factor x smoothed level when threshold < 0),
    // the span's ends interpolated when the level rises past them; -1.0
    // otherwise. shape: 0 falling, 2 rising, 1 other; level: the level found.
    // Both are untouched when the span holds no frame.
    double LevelQuery(double startMs, double lengthMs, double threshold, double factor,
                      int32_t& shape, double& level) const;
    // Interior frames above both neighbours and above k x their smoothed level.
    int32_t LevelPeakCount(double k) const;

private:
    void smooth();
    void findCrossings(const int16_t* x, int32_t n, int32_t gap);
    void detectCrossingEvents(const int16_t* x, int32_t n);
    void detectHalfWaveEvents(const int16_t* x, int32_t n);
    void findHalfWaveRuns(const int16_t* x, int32_t n);
    void pruneEvents(double strengthFloor, double spacingMs);
    // First frame and frame count of a span; false when it reaches past the
    // last frame.
    bool spanFrames(double startMs, double lengthMs, int32_t& first, int32_t& count) const;
    double meanLevel(int32_t first, int32_t count) const;

    bool smoothing_ = true;
    std::vector<float> smoothed_;
    float peak_ = 0.0f;
    RMSStatistics stats_;

    BandType bandType_ = kWholeBand;
    double bandF1_ = 0.0;
    double bandF2_ = 0.0;

    double eventRatio_ = 1.7;
    double eventFloor_ = 0.8;
    int32_t eventWindowMs_ = 17;
    double eventLevelFactor_ = 6.0;
    double eventMinimumRise_ = 7000.0;
    std::vector<LevelEvent> events_;

    // One run of rising half-waves and the level it is measured against.
    struct HalfWaveRun {
        int32_t index;  // sample of the run's highest peak
        int32_t peak;
        int32_t rise;   // steepest step between neighbouring peaks
        float mean;
    };
    std::vector<HalfWaveRun> runs_;
    bool runsValid_ = false;

    // The crossings after which the next one is more than the gap away, the
    // last crossing, and the samples and gap they were found for.
    struct CrossingSource {
        const int16_t* x = nullptr;
        int32_t n = 0;
        int32_t gap = -1;
        bool operator==(const CrossingSource& o) const { return x == o.x && n == o.n && gap == o.gap; }
    };
    std::vector<int32_t> crossings_;
    int32_t lastCrossing_ = -1;
    CrossingSource crossingsOf_;
};
