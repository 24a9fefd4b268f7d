#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "analysis/RMSObj.h"
#include "analysis/SlotTable.h"
#include "dsp/FFTObj.h"
#include "dsp/SignalObj.h"
#include "dsp/SpectralStatistics.h"

// What the analysis reads from the tempo analyser of step 1. The analyser
// itself (tempo search, bar patterns) is not in the tree yet; until it is,
// these keep the analyser's starting values.
struct TempoResults {
    double tempo = 120.0;         // beats per minute
    int32_t onsetCount1 = 0;
    double onsetMeasure1 = 0.0;
    int32_t onsetCount2 = 0;
    double onsetMeasure2 = 0.0;
    double levelPeakRate = 0.0;   // level peaks per second
};

// The song under analysis: the prepared signal plus the analysis objects,
// the pipeline's step flags and its results.
class SongObj : public SignalObj {
public:
    static constexpr int32_t kStepCount = 14;

    explicit SongObj(std::string name = std::string());
    ~SongObj() override;

    const std::string& name() const { return name_; }

    // Runs the pipeline steps in order, returning early when gStopAnalysis
    // is raised between two steps.
    void Analyze();

    // The steps that exist so far; each sets its flag when done.
    void BarDynamics();   // step 2, at tempo().tempo
    void LevelStep();     // step 5
    void SpectrumStep();  // step 6
    void LowBandStep();   // step 7
    void LPCStep();       // step 11

    bool StepDone(int32_t step) const { return step >= 1 && step <= kStepCount && stepFlags_[step]; }

    // Feature values by id, as the result slots read them.
    FeatureVector Features() const;

    TempoResults& tempo() { return tempo_; }
    const TempoResults& tempo() const { return tempo_; }
    const FFTObj& spectrum() const { return spectrum_; }
    const RMSObj& level() const { return level_; }

    std::array<float, 5> lpcValues{};  // peak rate, long-track rate, duration, harmonic share, span
    int32_t analysisRate = 22050;

    // Step results (initial values until their step runs).
    int32_t fadeOutBars = 0;          // id 9
    double levelChangeSum = 0.0;      // id 7, dB / 128
    double levelChangeFloor = 0.0;    // id 8, dB
    double styleBest = 0.0;           // id 45
    double styleSecond = 0.0;         // id 47
    double repeatCoverage = 0.0;      // id 25
    double eventsPer10s = 0.0;        // id 10
    double medianToPeak = 0.0;        // id 30
    double stdDevToPeak = 0.0;        // id 29
    SpectralStatistics spectralStats; // ids 33, 34, 35: the first three
    double lowBandDb = 0.0;           // id 13
    std::array<double, 5> segmentResults{};  // step 8: id 16 the fifth, id 38 third x second
    std::array<double, 2> step9Results{};    // ids 19, 20
    std::array<int32_t, 3> noteIntegers{};   // ids 50, 51, 52
    double intervalPatternMean = 0.0;        // id 28
    std::array<double, 2> noteConcentration{};  // ids 56, 55

private:
    void markDone(int32_t step) { stepFlags_[step] = 1; }

    TempoResults tempo_;
    std::string name_;
    FFTObj spectrum_;
    RMSObj level_;
    std::array<uint8_t, kStepCount + 1> stepFlags_{};
};
