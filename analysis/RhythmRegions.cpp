#include "analysis/RhythmRegions.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "analysis/RMSObj.h"
#include "dsp/FFTObj.h"
#include "dsp/Rounding.h"
#include "dsp/SignalObj.h"

namespace {

// Mean bin distance below which two frames are taken as the same sound, by
// the level at the searched frame (RMS in sample units).
double searchThreshold(double level) {
    if (level < 1100.0) return 0.00035;
    if (level < 2500.0) return 0.0005;
    if (level < 3200.0) return 0.0007;
    if (level < 4000.0) return 0.001;
    return 0.0012 + (level - 4000.0) * (0.0018 - 0.0012) / (5500.0 - 4000.0);
}

// Mean distance below which a whole segment repeats, by the segment's mean
// level: louder passages tolerate more.
double segmentThreshold(double level) {
    static constexpr struct {
        double below;
        double base;
    } kSteps[] = {{500.0, 6e-05},   {620.0, 8e-05},   {720.0, 0.00014}, {820.0, 0.0002},
                  {920.0, 0.00024}, {1100.0, 0.00027}, {2000.0, 0.0004}, {2500.0, 0.00045},
                  {4350.0, 0.00055}, {5000.0, 0.0006}, {5500.0, 0.0007}, {6000.0, 0.0008},
                  {7000.0, 0.0009}};
    double base = 0.001;
    for (const auto& s : kSteps) {
        if (level < s.below) {
            base = s.base;
            break;
        }
    }
    return 1.6 * base;
}

// Weighted distances between the 50-6000 Hz bins of two spectral frames: a
// bin whose slope from the bin below points the other way in the two frames
// weighs more. The slope signs are worked out once per frame.
class FrameDistance {
public:
    explicit FrameDistance(const FFTObj& fft) : fft_(fft) {
        const double spacing = fft.BinSpacing();
        lo_ = std::max(0, truncToInt32(50.0 / spacing));
        hi_ = std::min(fft.BinCount() - 1, truncToInt32(6000.0 / spacing));
        bins_ = hi_ >= lo_ ? hi_ - lo_ + 1 : 0;
        rising_.resize(static_cast<size_t>(fft.FrameCount()) * bins_);
        for (int32_t f = 0; f < fft.FrameCount(); ++f) {
            const float* s = fft.Frame(f);
            uint8_t* out = rising_.data() + static_cast<size_t>(f) * bins_;
            for (int32_t b = lo_; b <= hi_; ++b) out[b - lo_] = b == 0 || s[b] - s[b - 1] >= 0.0f;
        }
    }

    int32_t Bins() const { return bins_; }

    // Sum of the weighted distances of frames p and q, `crossWeight` for a
    // bin whose slopes disagree, over four interleaved partial sums. Every
    // term is non-negative, so each partial sum only grows and so does their
    // total: the sum stops as soon as total / divisor reaches `limit`, which
    // it could never fall below again.
    double Sum(int32_t p, int32_t q, double crossWeight, double divisor, double limit) const {
        const float* sp = fft_.Frame(p) + lo_;
        const float* sq = fft_.Frame(q) + lo_;
        const uint8_t* rp = rising_.data() + static_cast<size_t>(p) * bins_;
        const uint8_t* rq = rising_.data() + static_cast<size_t>(q) * bins_;
        // Indexed rather than branched on: the slopes of noisy spectra agree
        // at random.
        const double weight[2] = {1.0, crossWeight};
        auto term = [&](int32_t k) {
            return std::fabs(static_cast<double>(sq[k]) - static_cast<double>(sp[k])) * weight[rp[k] ^ rq[k]];
        };
        double s[4] = {0.0, 0.0, 0.0, 0.0};
        int32_t k = 0;
        while (k + 4 <= bins_) {
            const int32_t end = std::min(bins_ & ~3, k + kBlock);
            for (; k < end; k += 4) {
                s[0] += term(k);
                s[1] += term(k + 1);
                s[2] += term(k + 2);
                s[3] += term(k + 3);
            }
            const double total = (s[0] + s[1]) + (s[2] + s[3]);
            if (total / divisor >= limit) return total;
        }
        for (; k < bins_; ++k) s[k & 3] += term(k);
        return (s[0] + s[1]) + (s[2] + s[3]);
    }

private:
    static constexpr int32_t kBlock = 64;
    const FFTObj& fft_;
    int32_t lo_ = 0, hi_ = -1, bins_ = 0;
    std::vector<uint8_t> rising_;
};

}  // namespace

RhythmRegions ComputeRhythmRegions(SignalObj& song, double tempo) {
    RhythmRegions result;
    if (!(tempo > 0.0)) return result;

    FFTObj fft;
    fft.SetSignal(&song);
    fft.SetFrameSize(2048);
    fft.SetWindow(FrameData::kHammingWindow);
    fft.Compute(tempo > 50.0 ? fft.BeatOverlap(tempo) : 0.5);
    const int32_t n = fft.FrameCount();
    if (n == 0) return result;
    const double h = fft.HopDuration();
    const double frameMs = fft.FrameDuration();

    RMSObj rms;
    rms.SetSignal(&song);
    rms.ComputeFrames(frameMs);

    const FrameDistance distance(fft);
    const double bins = distance.Bins();
    if (bins == 0) return result;

    // Lags from one bar less two frames up to eight bars (4 beats a bar).
    const double maxLag = (4.0 * 480000.0 / tempo) / h;
    const int32_t maxLagFrames = truncToInt32(std::min(maxLag, static_cast<double>(n)));
    const double minLagMs = 4.0 * 60000.0 / tempo - 2.0 * frameMs;

    // First j >= j0 within the lag limit whose frame sounds like frame i.
    auto findRepeat = [&](int32_t i, int32_t j0, double threshold) {
        const int32_t end = static_cast<int32_t>(std::min<int64_t>(int64_t(i) + maxLagFrames + 1, n));
        for (int32_t j = std::max(j0, 0); j < end; ++j)
            if (distance.Sum(i, j, 3.0, bins, threshold) / bins < threshold) return j;
        return -1;
    };
    // Whether the L frames from i repeat in the L frames after them. Retries
    // at nearby frames compare many of the same pairs again, so each lag
    // keeps the last distance of each frame modulo L: the frames compared
    // never go back, and those of one comparison are L consecutive ones.
    struct Known {
        int32_t frame = -1;
        double distance = 0.0;
    };
    std::vector<std::vector<Known>> known(static_cast<size_t>(maxLagFrames) + 1);
    auto segmentRepeats = [&](int32_t i, int32_t lag, double threshold) {
        if (int64_t(n) <= 2 * int64_t(lag) + i - 1) return false;
        std::vector<Known>& byFrame = known[lag];
        if (byFrame.empty()) byFrame.resize(lag);
        const double divisor = lag * bins * 2.0;
        double sum = 0.0;
        for (int32_t k = i; k < i + lag; ++k) {
            Known& pair = byFrame[k % lag];
            if (pair.frame != k) pair = {k, distance.Sum(k, k + lag, 4.0, 1.0, HUGE_VAL)};
            sum += pair.distance;
            if (sum / divisor >= threshold) return false;
        }
        return threshold > sum / divisor;
    };

    int64_t covered = 0;
    int32_t segments = 0;
    int32_t previous = 0;
    double spanLevel = 0.0;  // a span past the last level frame keeps the last mean
    int32_t i = truncToInt32(roundHalfAway(song.FirstSampleAbove(0) / h));
    while (i < n) {
        const double t = i * h;
        const double threshold = searchThreshold(rms.LevelAt(t));
        const int32_t j0 = previous == 0 || previous == -1 ? truncToInt32(i + minLagMs / h - 2.0) : previous;
        const int32_t j = findRepeat(i, j0, threshold);
        previous = j;
        if (j < 0 || j * h - t < minLagMs) {
            // Restart the next search from the shortest lag: resuming behind
            // the new frame would find that frame itself every time.
            i += 5;
            previous = 0;
            continue;
        }

        const int32_t lag = j - i;
        const int32_t start = i;
        RSRegion* run = nullptr;
        for (;;) {
            spanLevel = rms.SpanMean(i * h, lag * h, spanLevel);
            if (!segmentRepeats(i, lag, segmentThreshold(spanLevel))) {
                if (run != nullptr) run->SetLength(run->Count() * lag * h);
                break;
            }
            if (run == nullptr) {
                // The first repeat covers the segment and its copy.
                covered += lag;
                ++segments;
                result.runs.push_back(std::make_unique<RSRegion>(i * h, lag * h));
                run = static_cast<RSRegion*>(result.runs.back().get());
                run->AddSegment();
            }
            covered += lag;
            ++segments;
            run->AddSegment();
            i += lag;
            if (i >= n) break;
        }

        if (i == start) {
            if (j >= i + maxLag) {
                i += 5;
                previous = 0;
            } else {
                previous = j + 1;  // the same frame again, from the next lag
            }
        } else {
            i += lag;
            previous = 0;
        }
    }

    result.coverage = covered * 100.0 / n;
    result.segments = segments;
    return result;
}
