#include "analysis/BarPatterns.h"

#include <cmath>

#include "analysis/RMSObj.h"
#include "dsp/FFTObj.h"
#include "dsp/SignalObj.h"
#include "dsp/SpectralStatistics.h"

namespace {

constexpr int32_t kStepsPerBar = 16;

// Level of a span, from a clean level and shape (a span without frames
// leaves them untouched).
double spanLevel(const RMSObj& frames, double startMs, double lengthMs, double threshold,
                 double factor, int32_t& shape, double& time) {
    shape = -1;
    double level = 0.0;
    time = frames.LevelQuery(startMs, lengthMs, threshold, factor, shape, level);
    return level;
}

double spanLevel(const RMSObj& frames, double startMs, double lengthMs, double threshold,
                 double factor) {
    int32_t shape;
    double time;
    return spanLevel(frames, startMs, lengthMs, threshold, factor, shape, time);
}

// Walks the density boundaries of a band from the song's start, alternating
// between looking for the band to become dense and to thin out again; a
// dense stretch shorter than `maxMs` is a burst, reported at its start.
template <typename OnBurst>
void walkBursts(const FFTObj& spectrum, double songMs, double segmentMs, double f1, double f2,
                double level, double threshold, bool sliding, double maxMs, OnBurst onBurst) {
    double t = 0.0;
    bool above = true;
    int32_t stalls = 0;
    for (;;) {
        double measure = 0.0;
        const double b = FindDensityBoundary(spectrum, measure, t, segmentMs, f1, f2, level,
                                             threshold, above, sliding);
        const double length = (b < 0.0 ? songMs : b) - t;
        if (measure > threshold && length < maxMs) onBurst(t);
        if (b < 0.0) break;
        // Two boundaries in a row at the same place can only repeat.
        stalls = b > t ? 0 : stalls + 1;
        if (stalls > 1) break;
        t = b;
        above = !above;
    }
}

}  // namespace

BarPatterns::BarPatterns(bool keepPatterns) : keepPatterns_(keepPatterns) {}

void BarPatterns::Reset() {
    onsets_.clear();
    patterns_.clear();
}

void BarPatterns::Add(uint64_t onsets, int32_t beats, double barMs, double startMs,
                      int32_t barNumber) {
    onsets_.push_back(onsets);
    if (!keepPatterns_) return;
    patterns_.emplace_back(beats, barMs, startMs, barNumber);
    RhythmPattern& bar = patterns_.back();
    for (int32_t voice = 0; voice < 2; ++voice)
        for (int32_t step = 0; step < RhythmPattern::kMaxSteps; ++step)
            if (onsets & Onset(step, voice)) bar.SetStep(step, voice, 1.0, 1.0);
}

double BarPatterns::Score(double scoreParameter) const {
    groupFirst_.clear();
    groupWeight_.clear();
    if (scoreParameter > 0.0) {
        // Every bar weighs 1.0 as the fill adds it, so the order by weight
        // (heavier first, bar order among equals) is the bar order. With
        // onsets of 1.0 and 0.0 the distance is the number of differing cells.
        for (uint64_t bar : onsets_) {
            if (bar == 0) continue;
            size_t g = 0;
            while (g < groupFirst_.size() && !(__builtin_popcountll(bar ^ groupFirst_[g]) < scoreParameter))
                ++g;
            if (g < groupFirst_.size()) {
                groupWeight_[g] += 1.0;
            } else {
                groupFirst_.push_back(bar);
                groupWeight_.push_back(1.0);
            }
        }
    }
    const size_t groups = groupFirst_.size();
    if (groups == 0) return 0.0;

    const int32_t bars = Count();
    const int32_t heavy = scoreParameter > 0.5 ? bars / 18 : bars / 36;
    double total = 0.0;
    double totalHeavy = 0.0;
    double squares = 0.0;
    for (double w : groupWeight_) {
        total += w;
        if (w >= heavy) totalHeavy += w;
        squares += w * w;
    }
    double shares = 0.0;
    for (double w : groupWeight_) {
        const double share = 100.0 * w / total;
        shares += share * share;
    }
    const double k = static_cast<double>(groups);
    return (0.8 * squares + 0.2 * shares) * (total / k) * (totalHeavy / k);
}

BarFiller::BarFiller(const SignalObj& song, const RMSObj& low, RMSObj& mid)
    : song_(song), low_(low), mid_(mid) {}

void BarFiller::SetSpectra(const FFTObj* wide, const FFTObj* fine) {
    if (wide != wide_) accents_.valid = false;
    if (fine != fine_) onsets_.valid = false;
    wide_ = wide;
    fine_ = fine;
}

// Kick drums: short dense stretches of the 50-200 Hz bins, placed on the
// louder of the stretch's first two frames.
const std::vector<double>& BarFiller::accentEvents(double density, double level) {
    Cache& c = accents_;
    if (c.valid && c.a == density && c.b == level) return c.times;
    c.valid = wide_ != nullptr;
    c.a = density;
    c.b = level;
    c.times.clear();
    if (wide_ == nullptr) return c.times;
    const FFTObj& spectrum = *wide_;
    const double hop = spectrum.HopDuration();
    walkBursts(spectrum, song_.GetDurationMs(), 70.0, 50.0, 200.0, level, density, true, 200.0,
               [&](double t) {
                   const double here = BandMeanLevel(spectrum, t, hop, 50.0, 200.0, false);
                   const double next = BandMeanLevel(spectrum, t + hop, hop, 50.0, 200.0, false);
                   c.times.push_back(next > here ? t + hop : t);
               });
    return c.times;
}

// Snares and other sharp attacks: short dense stretches of the 2000-8500 Hz bins.
const std::vector<double>& BarFiller::onsetEvents(double threshold) {
    Cache& c = onsets_;
    if (c.valid && c.a == threshold) return c.times;
    c.valid = fine_ != nullptr;
    c.a = threshold;
    c.times.clear();
    if (fine_ == nullptr) return c.times;
    walkBursts(*fine_, song_.GetDurationMs(), 30.0, 2000.0, 8500.0, 0.0085, threshold, false, 105.0,
               [&](double t) { c.times.push_back(t); });
    return c.times;
}

const std::vector<double>& BarFiller::levelEvents(double factor, double minimumRise) {
    Cache& c = levels_;
    if (c.valid && c.a == factor && c.b == minimumRise) return c.times;
    c.valid = true;
    c.a = factor;
    c.b = minimumRise;
    mid_.SetEventLevels(factor, minimumRise);
    mid_.DetectEvents();
    c.times.clear();
    for (const LevelEvent& e : mid_.Events()) c.times.push_back(e.timeMs);
    return c.times;
}

void BarFiller::Fill(BarPatterns& list, int32_t mode, double tempo, int32_t phase,
                     int32_t beatsPerBar, const FillParameters& p, OnsetCounts& counts) {
    if (!(tempo > 0.0) || !std::isfinite(tempo)) return;
    const bool both = mode == kFillBoth;
    const bool accents = mode == kFillAccents || (both && p.lowBandAccentMode);
    const bool levelTest = mode == kFillLevelTest || (both && !p.lowBandAccentMode);
    const bool onsets = mode == kFillOnsets || (both && p.midBandOnsetMode);
    const bool levelEvts = mode == kFillLevelEvents || (both && !p.midBandOnsetMode);

    static const std::vector<double> kNone;
    const std::vector<double>& low = accents ? accentEvents(p.mode6Density, p.mode6Level) : kNone;
    const std::vector<double>& mid = onsets      ? onsetEvents(p.mode5Threshold)
                                     : levelEvts ? levelEvents(p.mode1LevelFactor, p.mode1MinimumRise)
                                                 : kNone;
    const double barMs = beatsPerBar * 60000.0 / tempo;
    const double step = barMs / kStepsPerBar;
    const double songMs = song_.GetDurationMs();
    const double midHop = mid_.HopDuration();

    int32_t nLow = 0, nMid = 0;
    double sumLow = 0.0, sumMid = 0.0;
    size_t iLow = 0, iMid = 0;
    double tau = phase;
    int32_t barNumber = 1;
    while (tau < songMs) {
        const double start = tau;
        uint64_t bar = 0;
        for (int32_t k = 0; k < kStepsPerBar; ++k) {
            const double next = tau + step;
            // An event in this step marks it, with the level around it;
            // events already behind the grid are dropped, however many.
            auto placeEvent = [&](const std::vector<double>& events, size_t& i, const RMSObj& frames,
                                  int32_t voice, int32_t& count, double& sum) {
                if (i < events.size() && tau <= events[i] && events[i] < next) {
                    sum += spanLevel(frames, tau - step, 2.0 * step, 0.0, 1.0);
                    ++count;
                    bar |= BarPatterns::Onset(k, voice);
                    ++i;
                }
                while (i < events.size() && events[i] < tau) ++i;
            };
            if (accents) {
                placeEvent(low, iLow, low_, 0, nLow, sumLow);
            } else if (levelTest) {
                int32_t shape;
                double time;
                const double level = spanLevel(low_, tau, step, -1.0, p.mode0Factor, shape, time);
                if (time > 0.0 && shape == 1 && level > 4000.0) {
                    sumLow += level;
                    ++nLow;
                    bar |= BarPatterns::Onset(k, 0);
                }
            }
            if (onsets) {
                placeEvent(mid, iMid, mid_, 1, nMid, sumMid);
            } else if (levelEvts) {
                // Level events are placed one mid-band frame hop late.
                if (iMid < mid.size() && tau <= mid[iMid] + midHop && mid[iMid] + midHop < next) {
                    sumMid += spanLevel(mid_, tau, step, -1.0, 1.05);
                    ++nMid;
                    bar |= BarPatterns::Onset(k, 1);
                }
                while (iMid < mid.size() && mid[iMid] < tau) ++iMid;
            }
            tau = next;
        }
        list.Add(bar, beatsPerBar, barMs, start, barNumber++);
    }

    if (mode == kFillLevelTest || both || mode == kFillAccents) {
        counts.count2 = nLow;
        counts.measure2 = nLow > 0 ? sumLow / nLow / 32767.0 : 0.0;
    }
    if (mode == kFillLevelEvents || both || mode == kFillOnsets) {
        counts.count1 = nMid;
        counts.measure1 = nMid > 0 ? sumMid / nMid / 32767.0 : 0.0;
    }
}
