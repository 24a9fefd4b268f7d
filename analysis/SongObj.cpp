#include "analysis/SongObj.h"

#include "analysis/LPCObj.h"
#include "dsp/ButterFilter.h"
#include "dsp/FrameTracker.h"
#include "dsp/StopFlags.h"

SongObj::SongObj(std::string name) : name_(std::move(name)) {}

SongObj::~SongObj() = default;

void SongObj::Analyze() {
    // Step 1 (rhythm set-up, tempo search, bar patterns) is not there yet;
    // the tempo results keep their starting values.
    // Step 2 (bar dynamics) needs step 1's tempo and joins with it.
    // Steps 3 (style) and 4 (rhythm regions) are not there yet.
    if (gStopAnalysis) return;
    LevelStep();
    if (gStopAnalysis) return;
    SpectrumStep();
    if (gStopAnalysis) return;
    LowBandStep();
    // Steps 8 (spectral segments), 9 (band level changes) and 10 (pitch bends,
    // interval clusters) are not there yet.
    if (gStopAnalysis) return;
    LPCStep();
    // Steps 12 (interval patterns) and 13 (note concentration) are not there
    // yet; step 14 feeds no slot and is left out.
}

// Uses the tempo as it stands; running the rhythm step first when it has not
// run comes with the tempo search.
void SongObj::BarDynamics() {
    const double beats = tempo_.tempo;
    if (beats > 0.0) {
        RMSObj bars;
        bars.SetSignal(this);
        bars.ComputeFrames(4.0 * 60000.0 / beats, RMSObj::kRectangular, 0.0);
        fadeOutBars = bars.FadeOutLength(4);
        bars.ComputeFrames(2.0 * 60000.0 / beats, RMSObj::kRectangular, 0.0);
        const LevelChangeResult changes = bars.LevelChanges(8);
        levelChangeSum = changes.sum;
        levelChangeFloor = changes.floor;
    }
    markDone(2);
}

void SongObj::LevelStep() {
    level_.SetSignal(this);
    level_.ComputeFrames(60.0, RMSObj::kRectangular, 0.0);
    level_.DetectEvents();
    const double first = level_.FirstSoundingTime();
    level_.Statistics(first, level_.LastSoundingTime() - first);
    const RMSStatistics& s = level_.Stats();
    eventsPer10s = s.eventsPerPeriod;
    medianToPeak = static_cast<double>(s.median) / level_.PeakLevel();
    stdDevToPeak = static_cast<double>(s.stdDev) / level_.PeakLevel();
    markDone(5);
}

void SongObj::SpectrumStep() {
    spectrum_.SetSignal(this);
    spectrum_.SetFrameSize(ScaleSampleCount(512, 22050));
    spectrum_.SetWindow(FrameData::kHammingWindow);
    spectrum_.Compute(0.0);
    spectralStats = ComputeStatistics(spectrum_);
    markDone(6);
}

void SongObj::LowBandStep() {
    // The bass line's loudness: the song through a 150 Hz low-pass.
    SignalObj lowBand;
    lowBand.CreateBuffer(length, rate, false);
    ButterFilter lowPass;
    lowPass.Bind(this, lowBand.data);
    lowPass.LowPass(150.0, 0.0);

    RMSObj bass;
    bass.SetSignal(&lowBand);
    bass.SetBand(RMSObj::kLowPass, 150.0, 0.0);
    bass.ComputeFrames(250.0, RMSObj::kRectangular, 0.0);
    const double first = bass.FirstSoundingTime();
    lowBandDb = bass.MeanLevelDb(first, bass.LastSoundingTime() - first);
    markDone(7);
}

void SongObj::LPCStep() {
    LPCObj lpc;
    lpc.SetSignal(this);
    lpc.SetOrder(ScaleSampleCount(100, 22050));
    lpc.SetFrameLength(ScaleSampleCount(4096, 22050));
    lpc.SetBinCount(ScaleSampleCount(512, 22050));
    lpc.Compute(0.0);
    FrameTracker* tracker = lpc.Track(0.008f, 0.04f, 0.1, 200.0);
    tracker->ComputeStatistics();
    lpcValues = {tracker->PeakRate(), tracker->LongTrackRate(), tracker->MeanLongTrackDuration(),
                 tracker->HarmonicFraction(), tracker->MeanLongTrackSpan()};
    markDone(11);
}

FeatureVector SongObj::Features() const {
    FeatureVector f{};
    const double durationMs = 1000.0 * length / rate;
    f[0] = tempo_.tempo;
    f[5] = tempo_.onsetCount2 * 1000.0 / durationMs;
    f[6] = tempo_.onsetCount1 * 1000.0 / durationMs;
    f[7] = levelChangeSum;
    f[8] = levelChangeFloor;
    f[9] = fadeOutBars;
    f[10] = eventsPer10s;
    f[13] = lowBandDb;
    f[16] = segmentResults[4];
    f[17] = wasStereo ? stereoDifference : 0;
    f[19] = step9Results[0];
    f[20] = step9Results[1];
    f[25] = repeatCoverage;
    f[27] = tempo_.onsetMeasure2;
    f[28] = intervalPatternMean;
    f[29] = stdDevToPeak;
    f[30] = medianToPeak;
    f[33] = spectralStats.meanLevel;
    f[34] = spectralStats.maxLevel;
    f[35] = spectralStats.percentAboveMean;
    f[37] = tempo_.onsetMeasure1;
    f[38] = segmentResults[2] * segmentResults[1];
    for (int32_t i = 0; i < 5; ++i) f[39 + i] = lpcValues[i];
    f[45] = styleBest;
    f[47] = styleSecond;
    f[50] = noteIntegers[0];
    f[51] = noteIntegers[1];
    f[52] = noteIntegers[2];
    f[54] = tempo_.levelPeakRate;
    f[55] = noteConcentration[1];
    f[56] = noteConcentration[0];
    return f;
}
