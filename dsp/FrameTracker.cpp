#include "dsp/FrameTracker.h"

#include <cmath>

#include "dsp/SignalObj.h"

FrameTracker::FrameTracker(float minMagnitude, float tolerance, double unusedRatio,
                           double unusedLimit)
    : minMagnitude_(minMagnitude),
      tolerance_(tolerance),
      ratioSetting_(unusedRatio),
      limitSetting_(unusedLimit) {}

FrameTracker::~FrameTracker() = default;

std::unique_ptr<FrameTracker> FrameTracker::Track(const FrameData& spectral, float minMagnitude,
                                                  float tolerance, double unusedRatio,
                                                  double unusedLimit) {
    auto tracker = std::make_unique<FrameTracker>(minMagnitude, tolerance, unusedRatio, unusedLimit);
    tracker->SetSignal(spectral.Source());
    tracker->SetNeighbourhood(2);
    tracker->Run(spectral);
    return tracker;
}

void FrameTracker::Run(const FrameData& spectral) {
    frames_.clear();
    peaks_.clear();
    const int32_t frames = spectral.FrameCount();
    const int32_t bins = spectral.BinCount();
    const double hopMs = spectral.HopDuration();
    const double spacing = spectral.BinSpacing();
    length = frames;
    for (int32_t f = 0; f < frames; ++f) {
        frames_.emplace_back();
        PeakFrame& frame = frames_.back();
        frame.time = static_cast<float>(f * hopMs);
        pickPeaks(spectral.Frame(f), bins, frame.time, static_cast<float>(hopMs), spacing, frame);
        if (f > 0) frames_[f - 1].next = &frame;
    }
    link();
    summarise();
}

void FrameTracker::pickPeaks(const float* a, int32_t bins, float time, float hop, double spacing,
                             PeakFrame& frame) {
    TrackPeak* tail = nullptr;
    const float minMagnitude = minMagnitude_;
    const bool wide = neighbourhood_ >= 2;
    // Centre bins 2 .. bins - 5: the lowest two and the top four never hold a peak.
    for (int32_t k = 2; k <= bins - 5; ++k) {
        const float v = a[k];
        if (!(v > minMagnitude && v > a[k - 1] && v > a[k + 1])) continue;
        if (wide && !(v > a[k - 2] && v > a[k + 2])) continue;
        const float left = a[k - 1];
        const float right = a[k + 1];
        // Parabola through the three bins; its vertex height is the peak magnitude.
        const float p = 0.5f * (left - right) / (left - 2.0f * v + right);
        peaks_.emplace_back();
        TrackPeak& peak = peaks_.back();
        peak.magnitude = v - 0.25f * (left - right) * p;
        peak.frequency = static_cast<float>(k * spacing);
        peak.time = time;
        peak.hop = hop;
        peak.meanMagnitude = peak.magnitude;
        peak.meanFrequency = peak.frequency;
        peak.lastFrequency = peak.frequency;
        if (tail == nullptr) frame.firstPeak = &peak;
        else tail->nextInFrame = &peak;
        tail = &peak;
        ++frame.peakCount;
    }
}

bool FrameTracker::linkTo(TrackPeak& p, PeakFrame& candidates) {
    TrackPeak* best = nullptr;
    double bestDistance = 10000.0;
    for (TrackPeak* q = candidates.firstPeak; q != nullptr; q = q->nextInFrame) {
        if (q->linked) continue;
        const double distance = std::fabs(q->frequency - p.frequency);
        // Strictly smaller: of two equally near peaks the lower one wins.
        if (distance < bestDistance) {
            bestDistance = distance;
            best = q;
        }
    }
    if (best == nullptr) return false;
    const double logDistance = std::fabs(std::log(double(best->frequency)) - std::log(double(p.frequency)));
    if (!(logDistance < tolerance_)) return false;
    p.next = best;
    best->previous = &p;
    p.linked = true;
    best->linked = true;
    return true;
}

void FrameTracker::link() {
    for (PeakFrame* a = FirstFrame(); a != nullptr && a->next != nullptr; a = a->next) {
        for (TrackPeak* p = a->firstPeak; p != nullptr; p = p->nextInFrame) {
            PeakFrame* target = a->next;
            for (int32_t skip = 0; target != nullptr; ++skip, target = target->next) {
                if (linkTo(*p, *target) || skip >= gapFrames_) break;
            }
        }
    }
}

void FrameTracker::summarise() {
    for (PeakFrame* f = FirstFrame(); f != nullptr; f = f->next) {
        for (TrackPeak* p = f->firstPeak; p != nullptr; p = p->nextInFrame) {
            if (!p->IsTrackStart()) continue;
            p->magnitudeMin = p->magnitudeMax = p->magnitude;
            p->frequencyMin = p->frequencyMax = p->frequency;
            double magnitudeSum = p->magnitude;
            double frequencySum = p->frequency;
            int32_t count = 1;
            for (const TrackPeak* q = p->next; q != nullptr; q = q->next) {
                if (q->magnitude < p->magnitudeMin) p->magnitudeMin = q->magnitude;
                else if (q->magnitude > p->magnitudeMax) p->magnitudeMax = q->magnitude;
                if (q->frequency < p->frequencyMin) p->frequencyMin = q->frequency;
                else if (q->frequency > p->frequencyMax) p->frequencyMax = q->frequency;
                magnitudeSum += q->magnitude;
                frequencySum += q->frequency;
                p->lastFrequency = q->frequency;
                p->endTime = q->time + p->hop;
                ++count;
            }
            p->meanMagnitude = static_cast<float>(magnitudeSum / count);
            p->meanFrequency = static_cast<float>(frequencySum / count);
        }
    }
}

void FrameTracker::ComputeStatistics() {
    int64_t peaks = 0;
    int32_t longTracks = 0;
    int32_t harmonics = 0;
    double durationSum = 0.0;
    double spanSum = 0.0;
    for (PeakFrame* f = FirstFrame(); f != nullptr; f = f->next) {
        for (TrackPeak* p = f->firstPeak; p != nullptr; p = p->nextInFrame) {
            ++peaks;
            if (!p->IsTrackStart()) continue;
            const double duration = p->Duration();
            if (!(duration > 200.0)) continue;
            ++longTracks;
            // Decided afresh on every call: a flag left from an earlier call
            // would stop the search before it counts.
            p->harmonic = false;
            for (const TrackPeak* q = p->nextInFrame; q != nullptr && !p->harmonic; q = q->nextInFrame) {
                const double r = double(q->frequency) / p->frequency;
                const double fraction = r - std::floor(r);
                if (fraction < 0.06 || fraction > 0.94) p->harmonic = true;
            }
            if (p->harmonic) ++harmonics;
            durationSum += duration;
            spanSum += std::fabs(p->frequencyMax - p->frequencyMin);
        }
    }
    const double seconds = source_ != nullptr && source_->rate > 0 ? source_->GetDurationMs() / 1000.0 : 0.0;
    // Without a duration there is no rate; report 0 rather than divide by it.
    peakRate_ = seconds > 0.0 ? static_cast<float>(peaks / seconds) : 0.0f;
    longTrackRate_ = seconds > 0.0 ? static_cast<float>(longTracks / seconds) : 0.0f;
    if (longTracks >= 1) {
        meanLongTrackDuration_ = static_cast<float>(durationSum / longTracks);
        harmonicFraction_ = static_cast<float>(double(harmonics) / longTracks);
        meanLongTrackSpan_ = static_cast<float>(spanSum / longTracks);
    } else {
        meanLongTrackDuration_ = harmonicFraction_ = meanLongTrackSpan_ = 0.0f;
    }
}
