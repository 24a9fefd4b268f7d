#include "print/Fingerprint.h"

#include <array>
#include <atomic>
#include <cstring>
#include <memory>

#include "analysis/SongObj.h"
#include "audio/FileFormat.h"
#include "dsp/FFTObj.h"
#include "dsp/FrameTracker.h"
#include "dsp/SideBySide.h"
#include "io/Status.h"
#include "print/JamaSVD.h"

namespace {

constexpr double kLoadLimitMs = 135000.0;
constexpr int32_t kPrintRate = 44100;
constexpr double kSilenceThreshold = 50.0;
constexpr int32_t kFrameSize = 8192;
constexpr int32_t kBands = 40;
constexpr int32_t kVectors = 7;
constexpr int32_t kMinFrames = 40;
constexpr int32_t kNotes = 4;
constexpr int32_t kSemitones = 128;
// The notes come from the first 30 s of a stretch longer than 40 s.
constexpr double kNotesExcerptAfterMs = 40000.0;
constexpr double kNotesExcerptMs = 30000.0;

void computeBandPrint(FFTObj& spectrum, std::unique_ptr<double[]>& matrix);
void beginNotesSpectrum(SignalObj& signal, FFTObj& spectrum);
void dominantNotesOf(FFTObj& spectrum, int32_t*& fpCounts);

struct NoteBin {
    double durationSum = 0.0;
    int32_t count = 0;
    double amplitudeSum = 0.0;
};

}  // namespace

int generatePrint(const char* path, double*& fpMatrix, int32_t*& fpCounts) {
    if (path == nullptr) return status::kPrintFailed;
    auto song = std::make_unique<SongObj>(path);
    song->downMixOnLoad = true;
    if (loadSong(*song, path, kLoadLimitMs) != LoadOutcome::kLoaded) return status::kPrintFailed;
    return computePrint(*song, fpMatrix, fpCounts);
}

int computePrint(SongObj& song, double*& fpMatrix, int32_t*& fpCounts) {
    song.analysisRate = kPrintRate;
    song.Prepare(kPrintRate, kSilenceThreshold);

    // Long songs: the two minutes after the first ten seconds, which skips
    // intros and fade-outs and makes the print independent of song length.
    SignalObj* stretch = &song;
    if (song.GetDurationMs() > 130000.0) stretch = song.CreateExcerpt(10000.0, 120000.0);

    // Each thread sets up one spectrum and computes its frames, then helps
    // with the other's; the frames are shared out a few at a time. Then the
    // band print and the dominant notes, each reading its own spectrum, run
    // side by side.
    FFTObj bands, notes;
    std::atomic<bool> bandsBegun{false}, notesBegun{false};
    runSideBySide(
        [&] {
            // The bands end at 8 kHz: the rows need no bins above.
            bands.KeepBinsUpTo(8000.0);
            bands.SetSignal(stretch);
            bands.SetFrameSize(kFrameSize);
            bands.SetWindow(FrameData::kHammingWindow);
            bands.BeginShares(0.0);
            bandsBegun.store(true);
            bands.ComputeShare();
            if (notesBegun.load()) notes.ComputeShare();
        },
        [&] {
            beginNotesSpectrum(*stretch, notes);
            notesBegun.store(true);
            notes.ComputeShare();
            if (bandsBegun.load()) bands.ComputeShare();
        });
    if (bands.FrameCount() < kMinFrames) return status::kPrintTooShort;

    std::unique_ptr<double[]> matrix;
    std::unique_ptr<int32_t[]> counts;
    runSideBySide([&] { computeBandPrint(bands, matrix); },
                  [&] {
                      int32_t* c = nullptr;
                      dominantNotesOf(notes, c);
                      counts.reset(c);
                  });
    fpMatrix = matrix.release();
    fpCounts = counts.release();
    return status::kOk;
}

namespace {

void computeBandPrint(FFTObj& spectrum, std::unique_ptr<double[]>& matrix) {
    spectrum.ReSample(kBands, true);
    const int32_t frames = spectrum.FrameCount();
    TNT::Array2D<float> bandMatrix(frames, kBands);
    for (int32_t i = 0; i < frames; ++i) {
        const float* row = spectrum.Frame(i);
        for (int32_t j = 0; j < kBands; ++j) bandMatrix[i][j] = row[j];
    }
    // The signs of V are part of the print, so this must be exactly this
    // algorithm (Golub-Kahan-Reinsch as in LINPACK dsvdc), in single precision.
    JAMA::SVD<float> svd(bandMatrix);
    TNT::Array2D<float> v;
    svd.getV(v);

    matrix.reset(new double[kVectors * kBands]);
    for (int32_t r = 0; r < kVectors; ++r)
        for (int32_t j = 0; j < kBands; ++j) matrix[kBands * r + j] = static_cast<double>(v[j][r]);
}

void beginNotesSpectrum(SignalObj& signal, FFTObj& spectrum) {
    SignalObj* excerpt = &signal;
    if (signal.GetDurationMs() > kNotesExcerptAfterMs) excerpt = signal.CreateExcerpt(0.0, kNotesExcerptMs);
    spectrum.SetSignal(excerpt);
    spectrum.SetFrameSize(kFrameSize);
    spectrum.SetWindow(FrameData::kHammingWindow);
    spectrum.BeginShares(0.8);
}

}  // namespace

void computeDominantNotes(SignalObj& signal, int32_t*& fpCounts) {
    FFTObj spectrum;
    beginNotesSpectrum(signal, spectrum);
    spectrum.ComputeShare();
    dominantNotesOf(spectrum, fpCounts);
}

namespace {

void dominantNotesOf(FFTObj& spectrum, int32_t*& fpCounts) {
    auto tracker = FrameTracker::Track(spectrum, 0.005f, 0.03f, 0.1, 200.0);

    std::array<NoteBin, kSemitones> histogram{};
    for (PeakFrame* f = tracker->FirstFrame(); f != nullptr; f = f->next) {
        for (TrackPeak* p = f->firstPeak; p != nullptr; p = p->nextInFrame) {
            if (!p->IsTrackStart()) continue;
            const double frequency = p->meanFrequency;
            if (!(frequency > 50.0 && frequency < 1500.0)) continue;
            const int32_t note = FFTObj::FrequencyToSemitone(frequency);
            if (note < 0 || note >= kSemitones) continue;
            histogram[note].durationSum += p->Duration();
            histogram[note].count += 1;
            histogram[note].amplitudeSum += p->meanMagnitude;
        }
    }

    // The four best scores; on equal scores the earlier (lower) note stays ahead.
    std::array<double, kNotes> bestScore{};
    std::array<int32_t, kNotes> bestNote{};
    for (int32_t note = 0; note < kSemitones; ++note) {
        if (histogram[note].count == 0) continue;
        const double score = histogram[note].amplitudeSum + histogram[note].durationSum / 10000.0;
        for (int32_t slot = 0; slot < kNotes; ++slot) {
            if (score > bestScore[slot]) {
                for (int32_t k = kNotes - 1; k > slot; --k) {
                    bestScore[k] = bestScore[k - 1];
                    bestNote[k] = bestNote[k - 1];
                }
                bestScore[slot] = score;
                bestNote[slot] = note;
                break;
            }
        }
    }
    fpCounts = new int32_t[kNotes];
    for (int32_t k = 0; k < kNotes; ++k) fpCounts[k] = bestNote[k];
}

}  // namespace
