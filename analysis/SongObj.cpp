#include "analysis/SongObj.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <iterator>
#include <vector>

#include "analysis/AnalysisResults.h"
#include "analysis/BarPatterns.h"
#include "analysis/RMSObj.h"
#include "analysis/RhythmRegions.h"
#include "analysis/SpectrumFeatures.h"
#include "analysis/TempoAnalyser.h"
#include "dsp/FFTObj.h"
#include "dsp/QuorbixError.h"
#include "dsp/SideBySide.h"
#include "dsp/StopFlags.h"

namespace {

struct PipelineStep {
    int32_t number;
    void (*run)(SongObj& song);
    double typicalMs;  // on a 4-minute song: the longest tasks start first
};

// The pipeline. Step 14 feeds no slot and is left out.
const PipelineStep kPipeline[] = {
    {1, [](SongObj& s) {
         s.Results().tempo = ComputeRhythm(s, s.Tempo(), s.Bars());
     }, 480},
    {2, [](SongObj& s) {
         s.EnsureStep(1);
         s.Results().barDynamics = ComputeBarDynamics(s, s.Results().tempo.tempo);
     }, 4},
    {3, [](SongObj& s) {
         s.EnsureStep(1);
         s.Results().style = ClassifyStyle(s.RhythmPatternsEnabled() ? &s.RhythmPatterns() : nullptr);
     }, 2},
    {4, [](SongObj& s) {
         s.EnsureStep(1);
         s.Results().repeatCoverage = ComputeRhythmRegions(s, s.Results().tempo.tempo).coverage;
     }, 66},
    {5, [](SongObj& s) { s.Results().level = ComputeLevelFeatures(s, s.Level()); }, 21},
    {6, [](SongObj& s) { s.Results().spectrum = ComputeSpectrumFeatures(s, s.Spectrum()); }, 50},
    {7, [](SongObj& s) { s.Results().lowBand = ComputeLowBandLevel(s); }, 32},
    {8, [](SongObj& s) { s.Results().segments = ComputeSpectralSegments(s); }, 27},
    {9, [](SongObj& s) { s.Results().bandChanges = ComputeBandChanges(s.NoteSpectrum(), s.GetDurationMs()); }, 80},
    // Step 13 reads the spectrum step 9 made and is the last to need it: it
    // runs next, and the spectrum goes before the steps with the largest
    // working sets. No step reads another's results, so the order is free.
    {13, [](SongObj& s) {
         s.Results().noteConcentration = ComputeNoteConcentration(s.NoteSpectrum());
         s.ReleaseNoteSpectrum();
     }, 13},
    {10, [](SongObj& s) { s.Results().pitchBends = ComputePitchBends(s); }, 63},
    {11, [](SongObj& s) { s.Results().lpc = ComputeLPCValues(s); }, 95},
    {12, [](SongObj& s) { s.Results().intervalPatterns = ComputeIntervalPatterns(s); }, 230},
};

// Steps 1-4 (the rhythm) and each of steps 5-13 share nothing but the
// prepared signal, which they only read: they may run side by side.
constexpr size_t kRhythmSteps = 4;

// Runs pipeline entries [from, to), testing the stop flag before each step
// but the pipeline's first.
void runSteps(SongObj& song, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) {
        if (i > 0 && gStopAnalysis) return;
        song.RunStep(kPipeline[i].number);
    }
}

const PipelineStep* findStep(int32_t number) {
    for (const PipelineStep& step : kPipeline)
        if (step.number == number) return &step;
    return nullptr;
}

}  // namespace

SongObj::SongObj(std::string name)
    : tempo_(std::make_unique<TempoAnalyser>()),
      patterns_(std::make_unique<BarPatterns>()),
      name_(std::move(name)),
      spectrum_(std::make_unique<FFTObj>()),
      level_(std::make_unique<RMSObj>()),
      results_(std::make_unique<AnalysisResults>()) {}

SongObj::~SongObj() = default;

void SongObj::Analyze(Schedule schedule) {
    // Tasks of pipeline entries [from, to): the rhythm steps as one (steps
    // 2-4 need step 1), steps 9 and 13 as one (they share a spectrum), every
    // other step alone. Side by side the longest go first, so that the two
    // threads end close together whatever the song's length.
    struct Task {
        size_t from, to;
        double cost;
    };
    std::vector<Task> order;
    for (size_t i = 0; i < std::size(kPipeline);) {
        size_t to = i == 0 ? kRhythmSteps : kPipeline[i].number == 9 ? i + 2 : i + 1;
        double cost = 0.0;
        for (size_t k = i; k < to; ++k) cost += kPipeline[k].typicalMs;
        order.push_back({i, to, cost});
        i = to;
    }
    const bool twoThreads = schedule == Schedule::kTwoHalves;
    if (twoThreads)
        std::stable_sort(order.begin(), order.end(), [](const Task& a, const Task& b) { return a.cost > b.cost; });
    std::vector<std::function<void()>> tasks;
    std::vector<int> rank;
    for (const Task& t : order) {
        tasks.push_back([this, t] { runSteps(*this, t.from, t.to); });
        rank.push_back(int(t.from));
    }
    runShared(tasks, rank, twoThreads);
}

std::vector<RhythmPattern>& SongObj::RhythmPatterns() { return patterns_->Patterns(); }

bool SongObj::RhythmPatternsEnabled() const { return patterns_->Enabled(); }

void SongObj::EnsureStep(int32_t step) {
    if (!StepDone(step)) RunStep(step);
}

FFTObj& SongObj::NoteSpectrum() {
    if (!noteSpectrum_) {
        noteSpectrum_ = std::make_unique<FFTObj>();
        noteSpectrum_->SetSignal(this);
        noteSpectrum_->SetFrameSize(ScaleSampleCount(4096, 22050));
        noteSpectrum_->SetWindow(FrameData::kHammingWindow);
    }
    noteSpectrum_->Compute(0.5);  // keeps the frames once computed
    return *noteSpectrum_;
}

void SongObj::ReleaseNoteSpectrum() { noteSpectrum_.reset(); }

void SongObj::RunStep(int32_t step) {
    const PipelineStep* s = findStep(step);
    if (s == nullptr) throw QuorbixError("Programming error: no such analysis step");
    const auto start = std::chrono::steady_clock::now();
    s->run(*this);
    stepMs_[step] = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    stepFlags_[step] = 1;
}

FeatureVector SongObj::Features() const {
    const AnalysisResults& r = *results_;
    const double durationMs = GetDurationMs();
    FeatureVector f{};
    f[kTempo] = r.tempo.tempo;
    f[kOnsetRate2] = r.tempo.onsetCount2 * 1000.0 / durationMs;
    f[kOnsetRate1] = r.tempo.onsetCount1 * 1000.0 / durationMs;
    f[kLevelChangeSum] = r.barDynamics.levelChangeSum;
    f[kLevelChangeFloor] = r.barDynamics.levelChangeFloor;
    f[kFadeOutBars] = r.barDynamics.fadeOutBars;
    f[kLevelEventsPer10s] = r.level.eventsPer10s;
    f[kLowBandDb] = r.lowBand.meanDb;
    f[kWideBandFill] = r.segments.wideBandFill;
    f[kStereoDifference] = wasStereo ? stereoDifference : 0;
    f[kBandChangeShare] = r.bandChanges.changeShare;
    f[kBandOnsetRate] = r.bandChanges.onsetRate;
    f[kRepeatCoverage] = r.repeatCoverage;
    f[kOnsetMeasure2] = r.tempo.onsetMeasure2;
    f[kIntervalPatternMean] = r.intervalPatterns.mean;
    f[kLevelDeviationToPeak] = r.level.stdDevToPeak;
    f[kMedianLevelToPeak] = r.level.medianToPeak;
    f[kSpectralMeanLevel] = r.spectrum.meanLevel;
    f[kSpectralMaxLevel] = r.spectrum.maxLevel;
    f[kSpectralAboveMean] = r.spectrum.percentAboveMean;
    f[kOnsetMeasure1] = r.tempo.onsetMeasure1;
    f[kBusyDensityShare] = r.segments.busyDensity * r.segments.busyShare;
    f[kLPCPeakRate] = r.lpc.peakRate;
    f[kLPCLongTrackRate] = r.lpc.longTrackRate;
    f[kLPCLongTrackDuration] = r.lpc.meanLongTrackDuration;
    f[kLPCHarmonicFraction] = r.lpc.harmonicFraction;
    f[kLPCLongTrackSpan] = r.lpc.meanLongTrackSpan;
    f[kStyleBest] = r.style.best;
    f[kStyleSecond] = r.style.second;
    f[kShortBends] = r.pitchBends.shortBends;
    f[kLongBends] = r.pitchBends.longBends;
    f[kIntervalClusters] = r.pitchBends.intervalClusters;
    f[kLevelPeakRate] = r.tempo.levelPeakRate;
    f[kWideRangeConcentration] = r.noteConcentration.wideRange;
    f[kVoiceRangeConcentration] = r.noteConcentration.voiceRange;
    return f;
}
