#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "analysis/SlotTable.h"
#include "dsp/SignalObj.h"

class BarPatterns;
class FFTObj;
class RMSObj;
class RhythmPattern;
class TempoAnalyser;
struct AnalysisResults;

// The song under analysis: the prepared signal, the analysis objects the
// steps share, the pipeline's step flags and its results.
class SongObj : public SignalObj {
public:
    static constexpr int32_t kStepCount = 14;

    explicit SongObj(std::string name = std::string());
    ~SongObj() override;

    const std::string& name() const { return name_; }

    // kTwoHalves runs the rhythm steps (1-4) on a second thread beside the
    // others when the machine has two cores; the results are the same bits.
    enum class Schedule { kInOrder, kTwoHalves };
    // Runs the pipeline's steps, returning early when gStopAnalysis is raised
    // between two steps.
    void Analyze(Schedule schedule = Schedule::kTwoHalves);
    // Runs one step and sets its flag. Throws QuorbixError for a step the
    // pipeline does not have.
    void RunStep(int32_t step);
    // Runs the step unless its flag is set: steps that build on step 1 run it
    // first, so that each can also run alone.
    void EnsureStep(int32_t step);
    bool StepDone(int32_t step) const { return step >= 1 && step <= kStepCount && stepFlags_[step]; }
    // Wall time of the step's last run, ms (0 when it has not run); for
    // people reading an analysis, never for a result.
    double StepMs(int32_t step) const { return StepDone(step) ? stepMs_[step] : 0.0; }

    // Feature values by id, as the result slots read them.
    FeatureVector Features() const;

    AnalysisResults& Results() { return *results_; }
    const AnalysisResults& Results() const { return *results_; }
    FFTObj& Spectrum() { return *spectrum_; }
    // 4096-sample Hamming spectra at overlap 0.5, read by steps 9 and 13;
    // computed on first use.
    FFTObj& NoteSpectrum();
    void ReleaseNoteSpectrum();
    RMSObj& Level() { return *level_; }
    TempoAnalyser& Tempo() { return *tempo_; }
    BarPatterns& Bars() { return *patterns_; }
    // One pattern per bar, in bar order, from step 1; the style step may
    // rotate them in place. Disabled when step 1 found no usable beat.
    std::vector<RhythmPattern>& RhythmPatterns();
    bool RhythmPatternsEnabled() const;

    int32_t analysisRate = 22050;

private:
    std::unique_ptr<TempoAnalyser> tempo_;
    std::unique_ptr<BarPatterns> patterns_;  // step 1's bars
    std::string name_;
    std::unique_ptr<FFTObj> spectrum_;  // step 6's 512-sample spectra
    std::unique_ptr<FFTObj> noteSpectrum_;
    std::unique_ptr<RMSObj> level_;     // step 5's 60 ms levels
    std::unique_ptr<AnalysisResults> results_;
    std::array<uint8_t, kStepCount + 1> stepFlags_{};
    std::array<double, kStepCount + 1> stepMs_{};
};
