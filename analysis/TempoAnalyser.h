#pragma once
#include <cstdint>
#include <functional>
#include <memory>

#include "analysis/BarPatterns.h"
#include "analysis/BeatEstimates.h"

class FFTObj;
class RMSObj;
class SignalObj;

// What the rhythm step (step 1) hands to the rest of the analysis; until it
// runs, its starting values.
struct TempoResults {
    double tempo = 120.0;  // beats per minute
    int32_t phase = 151;   // a bar start, ms
    int32_t beatsPerBar = 4;
    bool fallback = false;  // no usable beat: tempo from the coarse estimates, no patterns
    int32_t onsetCount1 = 0;     // mid-band onsets of the final fill
    double onsetMeasure1 = 0.0;  // their mean level / full scale
    int32_t onsetCount2 = 0;     // bass-band onsets
    double onsetMeasure2 = 0.0;
    double levelPeakRate = 0.0;  // level peaks per second
};

// Finds the song's tempo and bar phase by a staged search: each candidate
// setting refills the bar patterns and scores how well they repeat, and the
// best setting of each stage is kept. Then tunes the onset detectors whose
// counts the analysis reports.
class TempoAnalyser {
public:
    TempoAnalyser();
    ~TempoAnalyser();
    TempoAnalyser(const TempoAnalyser&) = delete;
    TempoAnalyser& operator=(const TempoAnalyser&) = delete;

    // Binds the song (prepared, mono), sets the tempo to 0 and builds the two
    // band signals with their level frames: below 150 Hz (elliptic, 60 ms
    // frames) and 2000 +- 300 Hz (Butterworth, 120 ms frames).
    void SetUp(SignalObj& song);
    // True when a usable beat was found; tempo, phase and fill parameters are
    // then the search's best.
    bool TempoSearch();
    // In place of a failed search: tempo and phase from the coarse estimates,
    // and the patterns disabled.
    void Fallback(BarPatterns& patterns);
    // Fills `patterns` in a fill mode at the current tempo and phase.
    void Fill(BarPatterns& patterns, int32_t mode);
    // Drops the spectra, the band signals and the level frames.
    void Release();

    TempoResults Results() const;

    BeatState beat;  // tempo, phase, beats per bar, tempo range, bar grid
    FillParameters fill;
    OnsetCounts counts;
    double levelPeakRate = 0.0;  // level peaks per second
    // Best scores of the beat stages, the accent stages (modes 6 and 0) and
    // the onset stages (modes 5 and 1).
    int64_t beatScore = 0;
    int64_t accentScore = 0;
    int64_t onsetScore = 0;
    // RMS framing of the best beat candidate (window 1 = triangular).
    double rmsFrameMs = 0.0;
    double rmsWindow = 0.0;
    double rmsOverlap = 0.0;
    // Level-event settings of the best candidate of stage 2.
    double eventRatio = 1.7;
    double eventFloor = 0.8;
    int32_t eventWindowMs = 17;
    bool refined = false;  // stage 2 improved on stage 1
    double scoreParameter = 1.1;
    bool fallback = false;
    // Told (step, total) after each outer pass of the search.
    std::function<void(int32_t, int32_t)> observer;

private:
    int64_t trial(int32_t mode);
    void notify(int32_t step, int32_t total) const;
    void setUpWideSpectrum();
    void setUpFineSpectrum();
    double durationMs() const;

    SignalObj* song_ = nullptr;
    std::unique_ptr<SignalObj> lowBand_;
    std::unique_ptr<SignalObj> midBand_;
    std::unique_ptr<RMSObj> lowLevels_;  // 60 ms frames of the low band
    std::unique_ptr<RMSObj> midLevels_;  // 120 ms frames of the mid band
    std::unique_ptr<RMSObj> frames_;     // the song's frames for the estimators
    std::unique_ptr<FFTObj> wide_;       // 2048 samples, overlap 0.75
    std::unique_ptr<FFTObj> fine_;       // 512 samples, overlap 0.5
    std::unique_ptr<BarFiller> filler_;
    BarPatterns trialBars_{false};
};

// Step 1: the rhythm set-up, the tempo search (or its fallback), the final
// fill of `patterns` in mode 4 when they are enabled, and the release of the
// working data.
TempoResults ComputeRhythm(SignalObj& song, TempoAnalyser& analyser, BarPatterns& patterns);
