#include "analysis/TempoAnalyser.h"

#include <cmath>

#include "analysis/RMSObj.h"
#include "dsp/ButterFilter.h"
#include "dsp/EllipticalFilter.h"
#include "dsp/FFTObj.h"
#include "dsp/QuorbixError.h"
#include "dsp/Rounding.h"
#include "dsp/SignalObj.h"

namespace {

// Bars are onset-count denominators; a song shorter than a bar has none.
double perBar(int32_t count, int32_t bars) { return bars > 0 ? static_cast<double>(count) / bars : 0.0; }

}  // namespace

TempoAnalyser::TempoAnalyser() = default;
TempoAnalyser::~TempoAnalyser() = default;

void TempoAnalyser::SetUp(SignalObj& song) {
    Release();
    song_ = &song;
    beat.tempo = 0.0;
    fallback = false;

    lowBand_ = std::make_unique<SignalObj>();
    lowBand_->CreateBuffer(song.length, song.rate, false);
    EllipticalFilter lowPass;
    lowPass.Bind(&song, lowBand_->data);
    lowPass.LowPass(150.0, 0.5);

    midBand_ = std::make_unique<SignalObj>();
    midBand_->CreateBuffer(song.length, song.rate, false);
    ButterFilter bandPass;
    bandPass.Bind(&song, midBand_->data);
    bandPass.BandPass(2000.0, 600.0, 0.0);

    lowLevels_ = std::make_unique<RMSObj>();
    lowLevels_->SetSignal(lowBand_.get());
    lowLevels_->SetBand(RMSObj::kLowPass, 150.0, 0.0);
    lowLevels_->ComputeFrames(60.0, RMSObj::kRectangular, 0.5);

    midLevels_ = std::make_unique<RMSObj>();
    midLevels_->SetSignal(midBand_.get());
    midLevels_->SetBand(RMSObj::kBandPass, 2000.0, 600.0);
    midLevels_->ComputeFrames(120.0, RMSObj::kRectangular, 0.5);

    frames_ = std::make_unique<RMSObj>();
    frames_->SetSignal(&song);
    filler_ = std::make_unique<BarFiller>(song, *lowLevels_, *midLevels_);
}

void TempoAnalyser::Release() {
    filler_.reset();
    wide_.reset();
    fine_.reset();
    frames_.reset();
    if (lowLevels_) lowLevels_->Clear();
    if (midLevels_) midLevels_->Clear();
    lowLevels_.reset();
    midLevels_.reset();
    lowBand_.reset();
    midBand_.reset();
    trialBars_.Reset();
}

double TempoAnalyser::durationMs() const { return song_->GetDurationMs(); }

void TempoAnalyser::setUpWideSpectrum() {
    if (wide_) return;
    wide_ = std::make_unique<FFTObj>();
    // The accent search reads 50-200 Hz only: a fiftieth of the rows' memory.
    wide_->KeepBinsUpTo(200.0);
    wide_->ComputeOn(song_, song_->ScaleSampleCount(2048, 22050), FrameData::kHammingWindow, 0.75);
    filler_->SetSpectra(wide_.get(), fine_.get());
}

void TempoAnalyser::setUpFineSpectrum() {
    if (fine_) return;
    fine_ = std::make_unique<FFTObj>();
    // The onset search reads 2000-8500 Hz.
    fine_->KeepBinsUpTo(8500.0);
    fine_->ComputeOn(song_, song_->ScaleSampleCount(512, 22050), FrameData::kHammingWindow, 0.5);
    filler_->SetSpectra(wide_.get(), fine_.get());
}

void TempoAnalyser::Fill(BarPatterns& patterns, int32_t mode) {
    if (!filler_) throw QuorbixError("Programming error: TempoAnalyser used before its set-up");
    filler_->Fill(patterns, mode, beat.tempo, beat.phase, beat.beatsPerBar, fill, counts);
}

int64_t TempoAnalyser::trial(int32_t mode) {
    trialBars_.Reset();
    Fill(trialBars_, mode);
    // Scores pass 2^31 on long songs (about 225 equal bars).
    return static_cast<int64_t>(trialBars_.Score(scoreParameter));
}

void TempoAnalyser::notify(int32_t step, int32_t total) const {
    if (observer) observer(step, total);
}

bool TempoAnalyser::TempoSearch() {
    if (!filler_) throw QuorbixError("Programming error: TempoAnalyser used before its set-up");
    const double songMs = durationMs();

    // Preparation.
    scoreParameter = 1.1;
    fill.mode0Factor = 1.05;
    beatScore = accentScore = onsetScore = 0;
    refined = false;
    frames_->ComputeFrames(30.0, RMSObj::kTriangular, 0.5);
    levelPeakRate = frames_->LevelPeakCount(1.5) * 1000.0 / songMs;
    beat.tempo = 120.0;
    beat.phase = 151;
    setUpWideSpectrum();
    fill.mode6Density = 0.8;
    fill.mode6Level = 0.007;
    trialBars_.Reset();
    Fill(trialBars_, kFillAccents);
    setUpFineSpectrum();
    fill.mode5Threshold = 0.09;
    trialBars_.Reset();
    Fill(trialBars_, kFillOnsets);
    if (counts.count2 * 1000.0 / songMs <= 0.4) return false;

    // A candidate replaces the best only by scoring strictly more; when none
    // does, the values at the stage's entry stay.
    double bestTempo = beat.tempo;
    int32_t bestPhase = beat.phase;
    auto tryBeat = [&](double tempo, int32_t phase, auto onBetter) {
        beat.tempo = tempo;
        beat.phase = phase;
        const int64_t score = trial(kFillLevelTest);
        if (score > beatScore) {
            beatScore = score;
            bestTempo = tempo;
            bestPhase = phase;
            onBetter();
        }
    };

    // Stage 1: coarse beats from RMS frames of five lengths, each tried at
    // nearby phases and as three quarters of itself.
    int64_t runningSum = 0;
    const double frameLengths[] = {30.0, 60.0, 90.0, 120.0, 150.0};
    for (int32_t pass = 1; pass <= 5; ++pass) {
        const double frameMs = frameLengths[pass - 1];
        frames_->ComputeFrames(frameMs, RMSObj::kTriangular, 0.6);
        EstimateCoarseBeat(beat, *frames_, songMs);
        const double t = beat.tempo;
        const int32_t p = beat.phase;
        for (int32_t phase = p - 30; phase <= p + 30; phase += 10) {
            for (double tempo : {t, 3.0 * t / 4.0}) {
                tryBeat(tempo, phase, [&] {
                    rmsFrameMs = frameMs;
                    rmsWindow = 1.0;
                    rmsOverlap = 0.6;
                });
            }
        }
        notify(pass, 36);
        runningSum += beatScore;
        if (pass == 3 && runningSum / 3 <= 1) {
            beat.tempo = bestTempo;
            beat.phase = bestPhase;
            return false;
        }
    }

    // Stage 2: beats from level events of five detector windows.
    frames_->ComputeFrames(120.0, RMSObj::kRectangular, 0.5);
    for (int32_t window = 16; window <= 20; ++window) {
        auto record = [&] {
            refined = true;
            eventRatio = 1.8;
            eventFloor = 0.7;
            eventWindowMs = window;
        };
        // An estimate that finds too few events starts from the best so far.
        beat.tempo = bestTempo;
        beat.phase = bestPhase;
        frames_->SetEventSettings(1.8, 0.7, window);
        frames_->DetectEvents();
        EstimateBeatFromEvents(beat, frames_->Events(), *frames_);
        const double t0 = beat.tempo;
        const int32_t p = beat.phase;
        for (int32_t phase = p - 30; phase <= p + 30; phase += 10)
            for (double tempo : {t0, 3.0 * t0 / 4.0}) tryBeat(tempo, phase, record);
        const int32_t phase = bestPhase;
        for (double t = t0 - 0.6; t < t0 + 0.9; t += 0.2)
            for (double tempo : {t, 3.0 * t / 4.0}) tryBeat(tempo, phase, record);
        notify(window - 15, 50);
    }
    frames_->SetEventSettings(eventRatio, eventFloor, eventWindowMs);
    beat.tempo = bestTempo;
    if (beat.tempo < beat.lowestTempo) beat.tempo *= 2.0;
    beat.phase = bestPhase;
    const int32_t bars = truncToInt32(songMs * beat.tempo / (60000.0 * beat.beatsPerBar));
    fill.lowBandAccentMode = true;
    setUpWideSpectrum();

    // The detector stages keep the setting whose fill scores strictly more
    // than the stage's best, with the onset counts that fill gave (a fill
    // changes only its own voice's pair, so keeping all four is the same).
    OnsetCounts kept = counts;
    auto better = [&](int32_t mode, int64_t& best) {
        const int64_t score = trial(mode);
        if (score <= best) return false;
        best = score;
        kept = counts;
        return true;
    };

    // Stage 3: the accent detector's density threshold and bin level.
    {
        double bestA = fill.mode6Density, bestB = fill.mode6Level;
        for (double a = 0.7; a <= 1.0; a += 0.05) {
            for (double b = 0.006; b < 0.011; b += 0.001) {
                fill.mode6Density = a;
                fill.mode6Level = b;
                if (better(kFillAccents, accentScore)) bestA = a, bestB = b;
            }
        }
        fill.mode6Density = bestA;
        fill.mode6Level = bestB;
        counts = kept;
    }

    // Stage 4: the level test, when it beats the accents.
    {
        double bestC = 1.4;
        for (double c = 1.4; c < 2.1; c += 0.05) {
            fill.mode0Factor = c;
            if (better(kFillLevelTest, accentScore)) {
                fill.lowBandAccentMode = false;
                bestC = c;
            }
        }
        fill.mode0Factor = bestC;
        counts = kept;
    }

    // Stage 5: the mid-band onsets.
    onsetScore = 0;
    fill.midBandOnsetMode = false;
    setUpFineSpectrum();
    {
        double bestD = fill.mode5Threshold;
        for (double d = 0.05; d < 0.145; d += 0.005) {
            fill.mode5Threshold = d;
            if (better(kFillOnsets, onsetScore)) bestD = d;
        }
        fill.mode5Threshold = bestD;
        counts = kept;
    }
    if (perBar(counts.count1, bars) > 0.9) {
        // Onsets on most bars: they fine-tune the tempo.
        fill.midBandOnsetMode = true;
        onsetScore = 0;
        const double entry = beat.tempo;
        double best = entry;
        double t = entry - 0.2;
        for (int32_t i = 0; i < 41; ++i, t += 0.01) {
            beat.tempo = t;
            if (better(kFillOnsets, onsetScore)) best = t;
        }
        beat.tempo = best;
        counts = kept;
    } else {
        // Otherwise the mid-band level events take voice 1.
        onsetScore = 0;
        double bestE = fill.mode1LevelFactor, bestF = fill.mode1MinimumRise;
        int32_t trialNumber = 0;
        for (double e = 5.2; e < 7.1; e += 0.2) {
            for (double f = 6200.0; f < 8000.0; f += 400.0) {
                fill.mode1LevelFactor = e;
                fill.mode1MinimumRise = f;
                if (better(kFillLevelEvents, onsetScore)) bestE = e, bestF = f;
                notify(++trialNumber, 40);
            }
        }
        fill.mode1LevelFactor = bestE;
        fill.mode1MinimumRise = bestF;
        counts = kept;
    }

    // Octave correction: few onsets per bar at a fast tempo mean the bar is
    // really two; many at a slow one, half.
    const double onsetsPerBar = perBar(counts.count1, bars) + perBar(counts.count2, bars);
    if (beat.tempo > 125.0 && onsetsPerBar < 3.3) beat.tempo /= 2.0;
    else if (beat.tempo < 76.0 && onsetsPerBar > 4.5) beat.tempo *= 2.0;
    return true;
}

void TempoAnalyser::Fallback(BarPatterns& patterns) {
    if (!filler_) throw QuorbixError("Programming error: TempoAnalyser used before its set-up");
    fallback = true;
    const double tempo = beat.tempo;
    const int32_t phase = beat.phase;
    frames_->ComputeFrames(30.0, RMSObj::kTriangular, 0.5);
    EstimateCoarseBeat(beat, *frames_, durationMs());
    if (beat.gridScore > beatScore) {
        beatScore = beat.gridScore;
        rmsFrameMs = 30.0;
        rmsWindow = 1.0;
        rmsOverlap = 0.5;
    } else {
        beat.tempo = tempo;
        beat.phase = phase;
    }
    if (beatScore < 600) {
        frames_->SetEventSettings(1.5, 0.6, 16);
        frames_->DetectEvents();
        EstimateBeatFromEvents(beat, frames_->Events(), *frames_);
    }
    // Few level peaks per beat: the beat found is probably twice too fast.
    if (levelPeakRate * 100.0 / beat.tempo < 1.45 && beat.tempo / 2.0 >= beat.lowestTempo)
        beat.tempo /= 2.0;
    patterns.SetEnabled(false);
}

TempoResults TempoAnalyser::Results() const {
    TempoResults r;
    r.tempo = beat.tempo;
    r.phase = beat.phase;
    r.beatsPerBar = beat.beatsPerBar;
    r.fallback = fallback;
    r.onsetCount1 = counts.count1;
    r.onsetMeasure1 = counts.measure1;
    r.onsetCount2 = counts.count2;
    r.onsetMeasure2 = counts.measure2;
    r.levelPeakRate = levelPeakRate;
    return r;
}

TempoResults ComputeRhythm(SignalObj& song, TempoAnalyser& analyser, BarPatterns& patterns) {
    patterns.Reset();
    patterns.SetEnabled(true);
    analyser.SetUp(song);
    if (!analyser.TempoSearch()) analyser.Fallback(patterns);
    if (patterns.Enabled()) {
        patterns.Reset();
        analyser.Fill(patterns, kFillBoth);
    }
    analyser.Release();
    return analyser.Results();
}
