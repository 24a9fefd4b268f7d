#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "analysis/SlotTable.h"
#include "dsp/SignalObj.h"

class FFTObj;
class RMSObj;
struct AnalysisResults;

// The song under analysis: the prepared signal, the analysis objects the
// steps share, the pipeline's step flags and its results.
class SongObj : public SignalObj {
public:
    static constexpr int32_t kStepCount = 14;

    explicit SongObj(std::string name = std::string());
    ~SongObj() override;

    const std::string& name() const { return name_; }

    // Runs the pipeline's steps in order, returning early when gStopAnalysis
    // is raised between two steps.
    void Analyze();
    // Runs one step and sets its flag. Throws QuorbixError for a step the
    // pipeline does not have.
    void RunStep(int32_t step);
    bool StepDone(int32_t step) const { return step >= 1 && step <= kStepCount && stepFlags_[step]; }

    // Feature values by id, as the result slots read them.
    FeatureVector Features() const;

    AnalysisResults& Results() { return *results_; }
    const AnalysisResults& Results() const { return *results_; }
    FFTObj& Spectrum() { return *spectrum_; }
    RMSObj& Level() { return *level_; }

    int32_t analysisRate = 22050;

private:
    std::string name_;
    std::unique_ptr<FFTObj> spectrum_;  // step 6's 512-sample spectra
    std::unique_ptr<RMSObj> level_;     // step 5's 60 ms levels
    std::unique_ptr<AnalysisResults> results_;
    std::array<uint8_t, kStepCount + 1> stepFlags_{};
};
