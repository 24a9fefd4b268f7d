#include "analysis/PitchBends.h"

#include <cstdlib>

#include "dsp/FFTObj.h"
#include "dsp/FrameTracker.h"
#include "dsp/SignalObj.h"

namespace {

constexpr BendBand kShortBand = {200.0, 1700.0, 100.0, 400.0};
constexpr BendBand kLongBand = {200.0, 1700.0, 800.0, 4000.0};
constexpr float kClusterMs = 150.0f;

// The tracker compares natural logarithms; this step's tolerance, 0.043, is a
// distance of decimal logarithms (a ratio of 1.104 between frames). Read as
// a natural-log distance, no partial below 490 Hz could move one 21.5 Hz bin
// per frame, and real songs showed 0 to 5 bends where the slot's range is
// centred on 283.
constexpr float kLinkTolerance = static_cast<float>(0.043 * 2.302585092994046);

bool consonant(int32_t step) {
    switch (step) {
        case 3: case 4: case 7: case 12: case -5: case -8: case -9: case -12: return true;
        default: return false;
    }
}

}  // namespace

std::vector<BendRecord> FindBends(const FrameTracker& tracker, const BendBand& band) {
    std::vector<BendRecord> bends;
    for (const PeakFrame* f = tracker.FirstFrame(); f != nullptr; f = f->next) {
        for (const TrackPeak* p = f->firstPeak; p != nullptr; p = p->nextInFrame) {
            if (!p->IsTrackStart()) continue;
            const double duration = p->Duration();
            if (!(duration > band.shortestMs && duration <= band.longestMs)) continue;
            if (!(p->frequency > band.lowHz && p->frequency < band.highHz)) continue;
            const int32_t first = FFTObj::FrequencyToSemitone(p->frequency);
            const int32_t last = FFTObj::FrequencyToSemitone(p->lastFrequency);
            if (std::abs(first - last) > 2) bends.push_back({p->time, first});
        }
    }
    return bends;
}

int32_t CountIntervalClusters(const std::vector<BendRecord>& bends) {
    int32_t clusters = 0;
    const size_t n = bends.size();
    size_t start = 0;
    while (start < n) {
        const BendRecord& e = bends[start];
        int32_t previousNote = e.note;
        bool neighbour = false;
        bool allConsonant = true;
        size_t next = start + 1;
        for (; next < n && bends[next].time - e.time < kClusterMs; ++next) {
            neighbour = true;
            if (!consonant(bends[next].note - previousNote)) {
                allConsonant = false;
                break;
            }
            previousNote = bends[next].note;
        }
        if (neighbour && allConsonant) ++clusters;
        start = next;  // the bend that stopped this walk, or the end
    }
    return clusters;
}

PitchBends ComputePitchBends(SignalObj& song) {
    FFTObj spectrum;
    spectrum.ComputeOn(&song, song.ScaleSampleCount(1024, 22050), FrameData::kHammingWindow, 0.5);
    // Both bands read the same tracks: one tracking serves both passes.
    const auto tracker = FrameTracker::Track(spectrum, 0.0075f, kLinkTolerance, 0.1, 200.0);
    PitchBends r;
    r.shortBends = static_cast<int32_t>(FindBends(*tracker, kShortBand).size());
    const std::vector<BendRecord> longBends = FindBends(*tracker, kLongBand);
    r.longBends = static_cast<int32_t>(longBends.size());
    r.intervalClusters = CountIntervalClusters(longBends);
    return r;
}
