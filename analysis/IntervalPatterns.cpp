#include "analysis/IntervalPatterns.h"

#include <algorithm>

#include "analysis/LPCObj.h"
#include "dsp/FFTObj.h"
#include "dsp/FrameTracker.h"
#include "dsp/SignalObj.h"

const std::array<IntervalPattern, kPatternCount> kIntervalPatterns = {{
    {13, {3, 4, 5, 3, 4, 3, 2, 2, 1, 1, 3, 3, 1}},
    {11, {4, 5, 3, 4, 3, 2, 2, 1, 4, 3, 1}},
    {12, {5, 3, 4, 5, 2, 1, 4, 3, 1, 1, 2, 1}},
    {13, {4, 3, 5, 4, 3, 4, 1, 2, 2, 3, 1, 2, 1}},
    {13, {3, 5, 4, 3, 4, 1, 2, 2, 3, 1, 3, 1, 2}},
    {13, {5, 4, 3, 5, 2, 2, 3, 4, 1, 2, 2, 1, 2}},
    {11, {3, 9, 3, 4, 3, 2, 3, 1, 3, 3, 2}},
    {12, {9, 3, 7, 2, 3, 4, 3, 2, 1, 2, 1, 3}},
    {11, {4, 8, 4, 3, 4, 1, 4, 3, 1, 2, 1}},
    {13, {8, 4, 7, 1, 4, 3, 1, 3, 1, 2, 2, 3, 3}},
    {13, {7, 5, 7, 5, 2, 2, 3, 3, 1, 1, 2, 3, 2}},
    {13, {5, 7, 5, 2, 5, 4, 1, 2, 2, 1, 2, 3, 2}},
}};

namespace {

constexpr double kLongNoteMs = 500.0;
constexpr int32_t kShortestCountedMatch = 5;
constexpr int32_t kMaxMatch = 13;

}  // namespace

void SortAndMergeNotes(std::vector<SoundingNote>& notes) {
    std::stable_sort(notes.begin(), notes.end(),
                     [](const SoundingNote& a, const SoundingNote& b) { return a.semitone < b.semitone; });
    size_t i = 0;
    while (i + 1 < notes.size()) {
        if (notes[i].semitone != notes[i + 1].semitone) {
            ++i;
            continue;
        }
        // The survivor is compared with the next note in its turn.
        notes.erase(notes.begin() + static_cast<std::ptrdiff_t>(notes[i].endTime < notes[i + 1].endTime ? i : i + 1));
    }
}

int32_t MatchLength(const std::vector<SoundingNote>& notes, const IntervalPattern& pattern) {
    const size_t n = notes.size();
    if (n < 2) return 0;
    const int32_t length = pattern.length;
    int32_t best = 0;
    for (int32_t offset = 0; offset <= length - 3; ++offset) {
        for (size_t a = 0; a + 1 < n; ++a) {
            int32_t i = offset;
            int32_t count = 0;
            int32_t base = notes[a].semitone;
            int32_t carry = 0;
            for (size_t b = a + 1; b < n && i < length;) {
                const int32_t d = notes[b].semitone - base;
                const int32_t step = carry + pattern.steps[i];
                if (step == d) {
                    ++count;
                    base = notes[b].semitone;
                    carry = 0;
                    ++i;
                    ++b;
                } else if (step < d) {
                    carry = step;  // b is compared again with the next step
                    ++i;
                } else {
                    ++b;
                }
            }
            best = std::max(best, count);
        }
    }
    return best;
}

std::array<float, kPatternCount> PatternValues(const FrameTracker& tracker, double lowHz, double highHz) {
    std::array<float, kPatternCount> values{};
    const int32_t frames = tracker.FrameCount();
    if (frames <= 0) return values;

    std::array<std::array<int32_t, kMaxMatch + 1>, kPatternCount> counts{};
    std::array<std::array<bool, kMaxMatch + 1>, kPatternCount> flags{};
    std::vector<SoundingNote> notes;
    int32_t framesSinceChange = 0;
    for (const PeakFrame* f = tracker.FirstFrame(); f != nullptr; f = f->next) {
        bool changed = false;
        if (f->firstPeak != nullptr) {
            const float now = f->firstPeak->time;
            const auto ended = std::remove_if(notes.begin(), notes.end(),
                                              [now](const SoundingNote& n) { return n.endTime <= now; });
            changed = ended != notes.end();
            notes.erase(ended, notes.end());
        }
        for (const TrackPeak* p = f->firstPeak; p != nullptr; p = p->nextInFrame) {
            if (!p->IsTrackStart()) continue;
            const double duration = p->Duration();
            if (!(duration > kLongNoteMs) || !(p->frequency >= lowHz && p->frequency <= highHz)) continue;
            notes.push_back({FFTObj::FrequencyToSemitone(p->frequency), static_cast<float>(p->time + duration)});
            changed = true;
        }
        if (!changed) {
            ++framesSinceChange;
            continue;
        }
        // The frames since the last change kept the match lengths found then.
        for (int32_t p = 0; p < kPatternCount; ++p) {
            for (int32_t j = 0; j <= kMaxMatch; ++j) {
                if (!flags[p][j]) continue;
                counts[p][j] += framesSinceChange;
                flags[p][j] = false;
            }
        }
        SortAndMergeNotes(notes);
        for (int32_t p = 0; p < kPatternCount; ++p) flags[p][MatchLength(notes, kIntervalPatterns[p])] = true;
        framesSinceChange = 1;
    }
    // The lengths found at the last change are left uncounted.
    for (int32_t p = 0; p < kPatternCount; ++p) {
        const int32_t length = kIntervalPatterns[p].length;
        float sum = 0.0f;
        for (int32_t j = kShortestCountedMatch; j <= length; ++j)
            sum += static_cast<float>(counts[p][j]) * (static_cast<float>(j) / static_cast<float>(length));
        values[p] = sum / static_cast<float>(frames);
    }
    return values;
}

IntervalPatterns ComputeIntervalPatterns(SignalObj& song) {
    LPCObj lpc;
    lpc.ComputeOn(&song, 340, 4096, 2048, 0.3);
    const auto tracker = FrameTracker::Track(lpc, 0.005f, 0.04f, 0.1, 200.0);
    const std::array<float, kPatternCount> v = PatternValues(*tracker, 300.0, 1900.0);
    float sum = 0.0f;
    for (float x : v) sum += x;
    IntervalPatterns r;
    r.mean = sum / 12.0;
    r.meanOf0to2 = (v[0] + v[1] + v[2]) / 3.0;
    r.meanOf3to5 = (v[3] + v[4] + v[5]) / 3.0;
    return r;
}
