#include "analysis/NoteConcentration.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "dsp/FFTObj.h"
#include "dsp/FrameTracker.h"
#include "dsp/SignalObj.h"

namespace {

constexpr int32_t kNotes = 128;

struct NoteBin {
    double durationSum = 0.0;  // ms
    int32_t count = 0;
    double amplitudeSum = 0.0;
};

struct NoteHistogram {
    std::array<NoteBin, kNotes> bins{};
    int32_t total = 0;
};

// Every track start or single peak whose mean frequency is strictly inside
// (lowHz, highHz), by semitone; the amplitude counts once per frame.
NoteHistogram histogram(const FrameTracker& tracker, double lowHz, double highHz, double hopMs) {
    NoteHistogram h;
    for (const PeakFrame* f = tracker.FirstFrame(); f != nullptr; f = f->next) {
        for (const TrackPeak* p = f->firstPeak; p != nullptr; p = p->nextInFrame) {
            if (p->previous != nullptr) continue;
            const double frequency = p->meanFrequency;
            if (!(frequency > lowHz && frequency < highHz)) continue;
            const int32_t note = FFTObj::FrequencyToSemitone(frequency);
            if (note < 0 || note >= kNotes) continue;
            const double duration = p->Duration();
            NoteBin& bin = h.bins[note];
            bin.durationSum += duration;
            bin.count += 1;
            bin.amplitudeSum += p->magnitude * duration / hopMs;
            h.total += 1;
        }
    }
    return h;
}

// Amplitude sums become mean magnitudes per frame of track time.
void normalise(NoteHistogram& h, int32_t first, int32_t last, double hopMs) {
    for (int32_t b = first; b <= last; ++b) {
        const double frames = h.bins[b].durationSum / hopMs;
        if (frames > 0.0) h.bins[b].amplitudeSum /= frames;
    }
}

}  // namespace

double VoiceRangeConcentration(const FrameTracker& tracker, double hopMs, double songMs) {
    NoteHistogram h = histogram(tracker, 120.0, 700.0, hopMs);
    // Bins 1 and 126 keep their raw sums: only the inner bins are normalised.
    normalise(h, 2, kNotes - 3, hopMs);
    const auto& bins = h.bins;

    double minDeviation = songMs;
    double best = 0.0;
    int32_t centre = 0;
    int32_t count3 = 0;
    double amplitude3 = 0.0;
    for (int32_t b = 2; b <= kNotes - 3; ++b) {
        if (bins[b - 1].count == 0 || bins[b].count == 0 || bins[b + 1].count == 0) continue;
        double means[3];
        double sum3 = 0.0;
        for (int32_t i = 0; i < 3; ++i) {
            const NoteBin& bin = bins[b - 1 + i];
            sum3 += bin.durationSum;
            means[i] = bin.durationSum / bin.count;
        }
        const double mu = (means[0] + means[1] + means[2]) / 3.0;
        double squares = 0.0;
        for (double m : means) squares += (m - mu) * (m - mu);
        minDeviation = std::min(minDeviation, std::sqrt(squares / 3.0));
        if (sum3 > best) {
            best = sum3;
            centre = b;
            count3 = bins[b - 1].count + bins[b].count + bins[b + 1].count;
            amplitude3 = bins[b - 1].amplitudeSum + bins[b].amplitudeSum + bins[b + 1].amplitudeSum;
        }
    }
    if (count3 == 0) return 0.0;  // no three neighbouring semitones

    int32_t largest = centre - 1;
    int32_t smallest = centre - 1;
    for (int32_t b = centre; b <= centre + 1; ++b) {
        if (bins[b].durationSum > bins[largest].durationSum) largest = b;
        if (bins[b].durationSum < bins[smallest].durationSum) smallest = b;
    }
    const double share = double(count3) / h.total;
    const double evenness = bins[smallest].durationSum * 100.0 / bins[largest].durationSum;
    return ((share * 300.0 * 10.0 - minDeviation * 10.0) / (best / count3)) * evenness * amplitude3 + 1.0;
}

double WideRangeConcentration(const FrameTracker& tracker, double hopMs, double songMs) {
    NoteHistogram h = histogram(tracker, 80.0, 1500.0, hopMs);
    if (h.total < 1) return 0.0;
    normalise(h, 0, kNotes - 1, hopMs);
    const auto& bins = h.bins;

    // The first of equal sums wins.
    int32_t b1 = 2;
    for (int32_t b = 3; b <= kNotes - 3; ++b)
        if (bins[b].durationSum > bins[b1].durationSum) b1 = b;
    int32_t b2 = b1 == 2 ? 3 : 2;
    for (int32_t b = b2 + 1; b <= kNotes - 3; ++b)
        if (b != b1 && bins[b].durationSum > bins[b2].durationSum) b2 = b;

    const NoteBin& x = bins[b1];
    const NoteBin& y = bins[b2];
    const int32_t count = x.count + y.count;
    if (count == 0) return 0.0;
    return ((x.durationSum + y.durationSum / 2.0) / songMs) * ((x.durationSum + y.durationSum) / count) *
           (x.amplitudeSum + y.amplitudeSum / 2.0);
}

NoteConcentration ComputeNoteConcentration(const FrameData& spectrum) {
    NoteConcentration r;
    const double hopMs = spectrum.HopDuration();
    const double songMs = spectrum.Source() != nullptr ? spectrum.Source()->GetDurationMs() : 0.0;
    if (spectrum.FrameCount() == 0 || !(songMs > 0.0)) return r;
    r.voiceRange = VoiceRangeConcentration(*FrameTracker::Track(spectrum, 0.007f, 0.04f, 0.1, 200.0), hopMs, songMs);
    r.wideRange = WideRangeConcentration(*FrameTracker::Track(spectrum, 0.008f, 0.04f, 0.1, 200.0), hopMs, songMs);
    return r;
}
