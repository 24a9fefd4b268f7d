#include "analysis/RMSObj.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "dsp/Rounding.h"
#include "dsp/SignalObj.h"
#include "dsp/WideClones.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Compared in single precision, like the levels: a level of exactly 0.1 is
// not sounding.
constexpr float kSoundingLevel = 0.1f;

// A sample count from a duration; absurd settings saturate, negative ones give 0.
int32_t truncCount(double v) { return std::max(0, truncToInt32(v)); }

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Band-pass events weaker than this are pruned, whatever the event levels.
constexpr double kHalfWaveFloor = 1.0 * 2000.0;

int32_t absSample(int16_t v) { return v < 0 ? -static_cast<int32_t>(v) : v; }

}  // namespace

RMSObj::RMSObj() {
    frameSize_ = 5292;
    overlap_ = 0.5;
    width = 1;
}

RMSObj::~RMSObj() = default;

void RMSObj::SetSignal(SignalObj* source) {
    FrameData::SetSignal(source);
    Clear();
    crossingsOf_ = {};
}

void RMSObj::SetBand(BandType type, double f1, double f2) {
    bandType_ = type;
    bandF1_ = f1;
    bandF2_ = f2;
}

void RMSObj::SetEventSettings(double ratio, double floor, int32_t windowMs) {
    eventRatio_ = ratio;
    eventFloor_ = floor;
    eventWindowMs_ = windowMs;
}

void RMSObj::SetEventLevels(double levelFactor, double minimumRise) {
    eventLevelFactor_ = levelFactor;
    eventMinimumRise_ = minimumRise;
}

void RMSObj::Clear() {
    ClearRows();
    runs_.clear();
    runsValid_ = false;
    width = 1;
    smoothed_.clear();
    smoothed_.shrink_to_fit();
    events_.clear();
    peak_ = 0.0f;
}

namespace {

// Weighted sums of squares of eight frames `step` values apart, a frame to a
// lane. Each lane adds w v v sample after sample as the one-frame loop does,
// so either copy gives the same bits; the two vectors are two independent
// chains of additions.
VEX_WIDE_CLONES void weightedSquares8(const int16_t* s, size_t step, size_t stride, const double* weight,
                                      int32_t n, double* out) {
    Double4 lo = {0.0, 0.0, 0.0, 0.0}, hi = lo;
    for (int32_t j = 0; j < n; ++j) {
        const int16_t* p = s + static_cast<size_t>(j) * stride;
        const Double4 a = {double(p[0]), double(p[step]), double(p[2 * step]), double(p[3 * step])};
        const Double4 b = {double(p[4 * step]), double(p[5 * step]), double(p[6 * step]), double(p[7 * step])};
        const double w = weight[j];
        lo += w * a * a;
        hi += w * b * b;
    }
    std::memcpy(out, &lo, sizeof lo);
    std::memcpy(out + 4, &hi, sizeof hi);
}

}  // namespace

void RMSObj::ComputeFrames(double frameMs, WindowShape window, double overlap) {
    Clear();
    windowOption_ = window;
    overlap_ = overlap;
    if (source_ == nullptr || rate <= 0) return;

    const int32_t frameLength = truncCount(rate * frameMs / 1000.0);
    const int32_t hop = truncCount(frameLength * (1.0 - overlap));
    frameSize_ = frameLength;
    hop_ = hop;
    hopMs_ = 1000.0 / rate * hop;
    const int32_t samples = source_->length;
    if (frameLength < 1 || hop < 1 || samples < frameLength) return;

    const int32_t frames = (samples - frameLength) / hop + 1;
    float* levels = AllocateRows(frames, 1);
    smoothed_.assign(frames, 0.0f);

    // Triangular weights rise over the first half of the frame and fall over
    // the second; a frame too short to have halves is left unweighted.
    std::vector<double> weight;
    const int32_t half = frameLength / 2;
    if (window == kTriangular && half > 0) {
        weight.resize(frameLength);
        for (int32_t j = 0; j < frameLength; ++j)
            weight[j] = j <= half ? static_cast<double>(j) / half
                                  : 1.0 - static_cast<double>(j - half) / half;
    }

    const int16_t* x = source_->data;
    const int32_t stride = source_->width > 0 ? source_->width : 1;
    // Squares of samples are integers below 2^31: while a frame's total stays
    // below 2^53 every partial sum in double is exact, so an integer sum in
    // any order gives the same bits.
    const bool exactSquares = frameLength <= (1 << 22);
    const size_t step = static_cast<size_t>(hop) * stride;
    auto frameSum = [&](const int16_t* s) {
        double sum = 0.0;
        if (weight.empty() && exactSquares) {
            int64_t squares = 0;
            if (stride == 1) {
                for (int32_t j = 0; j < frameLength; ++j) squares += static_cast<int32_t>(s[j]) * s[j];
            } else {
                for (int32_t j = 0; j < frameLength; ++j) {
                    const int32_t v = s[static_cast<size_t>(j) * stride];
                    squares += v * v;
                }
            }
            sum = static_cast<double>(squares);
        } else if (weight.empty()) {
            for (int32_t j = 0; j < frameLength; ++j) {
                const double v = s[static_cast<size_t>(j) * stride];
                sum += v * v;
            }
        } else {
            for (int32_t j = 0; j < frameLength; ++j) {
                const double v = s[static_cast<size_t>(j) * stride];
                sum += weight[j] * v * v;
            }
        }
        return sum;
    };
    peak_ = 0.0f;
    int32_t f = 0;
    if (!weight.empty()) {
        // A weighted sum is one chain of dependent additions: eight frames
        // at a time overlap their chains, each keeping its own order.
        for (; f + 8 <= frames; f += 8) {
            double sum[8];
            weightedSquares8(x + f * step, step, stride, weight.data(), frameLength, sum);
            for (int32_t q = 0; q < 8; ++q) {
                levels[f + q] = static_cast<float>(std::sqrt(sum[q] / frameLength));
                peak_ = std::max(peak_, levels[f + q]);
            }
        }
    }
    for (; f < frames; ++f) {
        levels[f] = static_cast<float>(std::sqrt(frameSum(x + f * step) / frameLength));
        peak_ = std::max(peak_, levels[f]);
    }
    if (smoothing_) smooth();
}

// Follows fast changes quickly and steady stretches slowly: the coefficient
// doubles (up to three times in a row) while the level keeps jumping and
// halves back as it settles.
void RMSObj::smooth() {
    const int32_t frames = length;
    if (frames == 0) return;
    const double g0 = hopMs_ / 100.0 * 0.02;
    double g = g0;
    int32_t k = 0;
    smoothed_[0] = data[0];
    for (int32_t i = 1; i < frames; ++i) {
        const double r = static_cast<double>(data[i]) / smoothed_[i - 1];
        const bool change = r > 2.0 || r < 1.0 / 1.5;
        if (change && k < 3) {
            ++k;
            g *= 2.0;
        } else if (!change && k > 0) {
            --k;
            g = k == 0 ? g0 : g / 2.0;
        }
        g = std::min(g, 1.0);
        smoothed_[i] = static_cast<float>(g * data[i] + (1.0 - g) * smoothed_[i - 1]);
    }
}

double RMSObj::LevelAt(double t) const {
    if (length == 0 || !(hopMs_ > 0.0) || !(t >= 0.0)) return 0.0;
    const double i = std::trunc(t / hopMs_);
    if (i >= length) return 0.0;
    return data[static_cast<int32_t>(i)];
}

int32_t RMSObj::FirstSoundingFrame() const {
    for (int32_t i = 0; i < length; ++i)
        if (data[i] > kSoundingLevel) return i;
    return -1;
}

int32_t RMSObj::LastSoundingFrame() const {
    for (int32_t i = length - 1; i >= 0; --i)
        if (data[i] > kSoundingLevel) return i;
    return -1;
}

double RMSObj::FirstSoundingTime() const {
    const int32_t i = FirstSoundingFrame();
    return i < 0 ? 0.0 : i * hopMs_;
}

double RMSObj::LastSoundingTime() const {
    const int32_t i = LastSoundingFrame();
    return i < 0 ? 0.0 : i * hopMs_;
}

bool RMSObj::spanFrames(double startMs, double lengthMs, int32_t& first, int32_t& count) const {
    if (!(hopMs_ > 0.0)) return false;
    const double f = std::trunc(startMs / hopMs_);
    const double c = std::trunc(lengthMs / hopMs_);
    if (!(f >= 0.0) || !(c >= 0.0) || f + c > length) return false;
    first = static_cast<int32_t>(f);
    count = static_cast<int32_t>(c);
    return true;
}

void RMSObj::Statistics(double startMs, double lengthMs) {
    int32_t first = 0, count = 0;
    if (!spanFrames(startMs, lengthMs, first, count)) return;
    runsValid_ = false;  // the half-wave runs start from the mean

    // A span of no frame still gives the whole-signal figures; its own mean
    // and deviation are undefined.
    const double mean = meanLevel(first, count);
    double squares = 0.0;
    for (int32_t i = first; i < first + count; ++i) {
        const double d = data[i] - mean;
        squares += d * d;
    }
    stats_.mean = static_cast<float>(mean);
    // A one-frame span has no spread: the sample deviation is 0 / 0.
    stats_.stdDev = static_cast<float>(std::sqrt(squares / (count - 1)));

    const int16_t* x = source_->data;
    const int32_t n = source_->length;
    const int32_t stride = source_->width > 0 ? source_->width : 1;
    double energy = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        const double v = x[static_cast<size_t>(i) * stride];
        energy += v * v;
    }
    stats_.levelDb = static_cast<float>(20.0 * std::log10(std::sqrt(energy / (n - 1)) / 32767.0));

    if (length > 0) {
        std::vector<float> sorted(data, data + length);
        std::sort(sorted.begin(), sorted.end());
        const int32_t m = static_cast<int32_t>(0.1 * length);
        // With fewer than ten frames m is 0 and the upper index would be one
        // past the end; the loudest frame stands in for it.
        const int32_t upper = std::min(length - m, length - 1);
        stats_.spread = static_cast<float>((sorted[upper] - sorted[m]) * 100.0 / peak_);
        stats_.median = length % 2 == 1
                            ? sorted[length / 2]
                            : static_cast<float>((static_cast<double>(sorted[length / 2 - 1]) +
                                                  sorted[length / 2]) / 2.0);
    } else {
        stats_.spread = stats_.median = static_cast<float>(kNaN);
    }

    const double duration = source_->GetDurationMs();
    const size_t events = events_.size();
    stats_.eventsPerPeriod =
        (events < 2 || duration < 0.01) ? 0.0 : events / (duration / (10.0 * 1000.0));
}

double RMSObj::SpanMean(double startMs, double lengthMs, double otherwise) const {
    int32_t first = 0, count = 0;
    if (!spanFrames(startMs, lengthMs, first, count)) return otherwise;
    return meanLevel(first, count);
}

double RMSObj::meanLevel(int32_t first, int32_t count) const {
    if (count == 0) return kNaN;
    double sum = 0.0;
    for (int32_t i = first; i < first + count; ++i) sum += data[i];
    return sum / count;
}

double RMSObj::MeanLevelDb(double startMs, double lengthMs) const {
    int32_t first = 0, count = 0;
    if (!spanFrames(startMs, lengthMs, first, count) || count == 0) return kNaN;
    const double silent = 20.0 * std::log10(1.0 / 32767.0);
    double sum = 0.0;
    for (int32_t i = first; i < first + count; ++i)
        sum += data[i] > 0.0f ? 20.0 * std::log10(data[i] / 32767.0) : silent;
    return sum / count;
}

int32_t RMSObj::FadeOutLength(int32_t minimum) const {
    int32_t last = length - 1;
    while (last >= 0 && !(data[last] > 0.5f)) --last;
    if (last < 0) return 0;
    int32_t counted = 0;
    int32_t exceptions = 0;
    for (int32_t i = last - 1; i >= 0; --i) {
        if (data[i] > data[i + 1]) {
            ++counted;
        } else if (++exceptions == 2) {
            break;
        }
    }
    return counted > minimum ? counted : 0;
}

LevelChangeResult RMSObj::LevelChanges(int32_t window) const {
    LevelChangeResult result;
    const int32_t n = window;
    if (length == 0 || n < 1) return result;
    std::vector<double> d(length);
    for (int32_t i = 0; i < length; ++i) d[i] = 20.0 * std::log10(data[i] + 1.0);
    auto meanOf = [&](int32_t from) {
        double s = 0.0;
        for (int32_t j = from; j < from + n; ++j) s += d[j];
        return s / n;
    };

    double floor = 20.0 * std::log10(32767.0);
    int32_t p = FirstSoundingFrame();
    if (p < 0) return result;
    const int32_t end = length - (2 * n + 4);
    while (p < end) {
        const double a = meanOf(p);
        int32_t q = -1;
        for (int32_t j = p + n; j < p + n + 4; ++j) {
            if (std::fabs(d[j] - a) > 2.0) {
                q = j;
                break;
            }
        }
        if (q < 0) {
            ++p;
            continue;
        }
        const double b = meanOf(q);
        floor = std::min(floor, std::min(a, b));
        const double change = std::fabs(a - b);
        if (change >= 2.0) {
            ++result.count;
            result.sum += change;
            p = q;
        } else {
            ++p;
        }
    }
    result.sum /= 128.0;
    result.floor = result.count > 0 ? floor : 0.0;
    return result;
}

double RMSObj::LevelQuery(double startMs, double lengthMs, double threshold, double factor,
                          int32_t& shape, double& level) const {
    const double step = hopMs_;
    if (length == 0 || !(step > 0.0)) return -1.0;
    double firstD = std::ceil(startMs / step);
    double lastD = std::ceil((startMs + lengthMs) / step);
    if (!(firstD >= 0.0)) firstD = 0.0;
    if (!(lastD <= length)) lastD = length;
    const int32_t first = static_cast<int32_t>(firstD);
    const int32_t last = lastD > 0.0 ? static_cast<int32_t>(lastD) : 0;
    if (first >= last) return -1.0;

    int32_t k = first;
    double best = -1.0;
    for (int32_t i = first; i < last; ++i) {
        if (data[i] > best) {
            best = data[i];
            k = i;
        }
    }
    const double limit = threshold < 0.0 ? factor * smoothed_[k] : threshold;

    const double prev = k > 0 ? data[k - 1] : 0.0;
    const double next = k + 1 < length ? data[k + 1] : 0.0;
    const double cur = data[k];
    shape = (prev > cur && cur > next) ? 0 : (prev < cur && cur < next) ? 2 : 1;

    // The loudest frame sits at an edge of the span and the curve still rises
    // beyond it: the level at the edge itself is the better answer.
    if (k == first && k >= 1 && data[k - 1] > data[k]) {
        const double l = data[k - 1] + (static_cast<double>(data[k]) - data[k - 1]) *
                                           (startMs - (k - 1) * step) / step;
        if (l > limit) {
            level = l;
            return startMs;
        }
    }
    if (k == last - 1 && k + 1 < length && data[k + 1] > data[k]) {
        const double l = data[k] + (static_cast<double>(data[k + 1]) - data[k]) *
                                       (startMs + lengthMs - k * step) / step;
        if (l > limit) {
            level = l;
            return startMs + lengthMs;
        }
    }
    level = best;
    return best > limit ? k * step : -1.0;
}

int32_t RMSObj::LevelPeakCount(double k) const {
    int32_t count = 0;
    for (int32_t i = 1; i + 1 < length; ++i)
        if (data[i] > data[i - 1] && data[i] > data[i + 1] && data[i] > k * smoothed_[i]) ++count;
    return count;
}

void RMSObj::DetectEvents() {
    events_.clear();
    if (source_ == nullptr || source_->data == nullptr || rate <= 0) return;
    const int32_t n = source_->length;
    const int16_t* x = source_->data;
    std::vector<int16_t> mono;
    if (source_->width > 1) {
        // The detector reads one channel; the analysis only frames mono signals.
        mono.resize(n);
        for (int32_t i = 0; i < n; ++i) mono[i] = x[static_cast<size_t>(i) * source_->width];
        x = mono.data();
    }
    if (bandType_ == kBandPass) detectHalfWaveEvents(x, n);
    else detectCrossingEvents(x, n);
}

// Zero crossings of the whole or low-passed signal: a non-zero sample on the
// other side of zero from the one before (a zero counts as not positive).
// Which of them start a gap of more than `gap` samples before the next one
// does not depend on the detector's window, which the tempo search varies:
// they are found once per source and kept.
void RMSObj::findCrossings(const int16_t* x, int32_t n, int32_t gap) {
    crossings_.clear();
    lastCrossing_ = -1;
    auto onCrossing = [&](int32_t i) {
        if (lastCrossing_ >= 0 && i - lastCrossing_ > gap) crossings_.push_back(lastCrossing_);
        lastCrossing_ = i;
    };
    int32_t i = 1;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 8 <= n; i += 8) {
        const __m128i cur = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i));
        const __m128i prev = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i - 1));
        const __m128i sides = _mm_xor_si128(_mm_cmpgt_epi16(cur, zero), _mm_cmpgt_epi16(prev, zero));
        // Two mask bits per sample.
        uint32_t mask = static_cast<uint32_t>(
            _mm_movemask_epi8(_mm_andnot_si128(_mm_cmpeq_epi16(cur, zero), sides)));
        while (mask != 0) {
            onCrossing(i + __builtin_ctz(mask) / 2);
            mask &= mask - 1;
            mask &= mask - 1;
        }
    }
#endif
    for (; i < n; ++i)
        if (x[i] != 0 && (x[i] > 0) != (x[i - 1] > 0)) onCrossing(i);
    crossingsOf_ = {x, n, gap};
}

// Whole or low-passed signal: an event where the energy of the window after
// a crossing jumps against the window before it, at each crossing followed
// by more than the minimum gap. The scan starts at sample W as if after a
// positive sample, the last crossing at 0: the crossings are 0 itself, W
// when its sample is negative, then those of the signal after W.
// Crossings only move forward: overlapping windows slide (exact integer sums),
// and the window's peak is rescanned only once the last one has left it.
void RMSObj::detectCrossingEvents(const int16_t* x, int32_t n) {
    const double u = 1000.0 / rate;
    const int32_t w = truncCount(eventWindowMs_ / u);
    const int32_t gap = truncCount(1.4 / u);
    if (!(crossingsOf_ == CrossingSource{x, n, gap})) findCrossings(x, n, gap);
    double peakMax = 0.0;
    int64_t a = 0, b = 0;  // sums of |x| over [aLo, aHi) and [bLo, bHi)
    int32_t aLo = 0, aHi = 0, bLo = 0, bHi = 0;
    int32_t peak = -1;     // first loudest |x| of [aLo, aHi) and its index
    int32_t k = 0;
    auto evaluate = [&](int32_t z) {
        const int32_t aEnd = static_cast<int32_t>(std::min<int64_t>(static_cast<int64_t>(z) + w, n));
        if (z >= aHi || k < z) {
            // Nothing kept applies: sum and scan the window afresh, the peak
            // found first and then its first place (loops without a carried
            // branch, which vectorise).
            a = 0;
            int32_t top = -1;
            for (int32_t j = z; j < aEnd; ++j) {
                const int32_t v = absSample(x[j]);
                a += v;
                top = std::max(top, v);
            }
            peak = top;
            k = z;
            for (int32_t j = z; j < aEnd; ++j) {
                if (absSample(x[j]) == top) {
                    k = j;
                    break;
                }
            }
        } else {
            for (; aLo < z; ++aLo) a -= absSample(x[aLo]);
            int32_t top = -1;
            for (int32_t j = aHi; j < aEnd; ++j) {
                const int32_t v = absSample(x[j]);
                a += v;
                top = std::max(top, v);
            }
            if (top > peak) {
                peak = top;
                for (int32_t j = aHi; j < aEnd; ++j) {
                    if (absSample(x[j]) == top) {
                        k = j;
                        break;
                    }
                }
            }
        }
        aLo = z;
        aHi = aEnd;
        peakMax = std::max<double>(peakMax, peak);

        const int32_t bStart = std::max(0, z - w);
        if (bStart >= bHi) {
            b = 0;
            bLo = bHi = bStart;
        }
        for (; bHi < z; ++bHi) b += absSample(x[bHi]);
        for (; bLo < bStart; ++bLo) b -= absSample(x[bLo]);
        const double after = static_cast<double>(a);
        const double before = b == 0 ? 32000.0 : static_cast<double>(b);
        if (after / before > eventRatio_) events_.push_back({k * u, static_cast<double>(peak)});
    };
    if (w < n) {
        const bool startsNegative = x[w] < 0;
        // The crossing after W, if there is one within the gap after it.
        int32_t next = -1;
        for (int32_t i = w + 1; i < n && i <= w + gap && next < 0; ++i)
            if (x[i] != 0 && (x[i] > 0) != (x[i - 1] > 0)) next = i;
        // The first crossing (any one past the gap will do), or -1 for none.
        const int32_t first = startsNegative ? w : next >= 0 ? next : lastCrossing_ > w ? w + gap + 1 : -1;
        // 0 counts when the first crossing is more than the gap after it.
        if (first > gap) evaluate(0);
        if (startsNegative && next < 0 && lastCrossing_ > w) evaluate(w);
        auto c = std::upper_bound(crossings_.begin(), crossings_.end(), w);
        for (; c != crossings_.end(); ++c) evaluate(*c);
    }
    pruneEvents(eventFloor_ * peakMax, 65.0);
}

// Band-passed signal: runs of positive half-waves whose peaks keep rising;
// a run that rose steeply and ends well above the local level is an event.
// The runs and the levels they are measured against do not depend on the
// event levels, which the tempo search varies many times per song: they are
// found once per source, frames and statistics, and filtered on each call.
void RMSObj::detectHalfWaveEvents(const int16_t* x, int32_t n) {
    const double u = 1000.0 / rate;
    if (!runsValid_) findHalfWaveRuns(x, n);
    for (const HalfWaveRun& r : runs_)
        if (r.rise > eventMinimumRise_ && r.peak > eventLevelFactor_ * r.mean)
            events_.push_back({r.index * u, static_cast<double>(r.peak)});
    pruneEvents(kHalfWaveFloor, 160.0);
}

void RMSObj::findHalfWaveRuns(const int16_t* x, int32_t n) {
    runs_.clear();
    const double u = 1000.0 / rate;
    const double spanMs = 3.0 * frameSize_ * 1000.0 / rate;
    bool inWave = false;
    int32_t wavePeak = 0;
    int32_t waveIndex = 0;
    int32_t previousPeak = 0;
    int32_t runPeak = 0;
    int32_t runIndex = 0;
    int32_t rise = 0;
    int16_t previous = 0;
    // A run near the end has no full span after it and is measured against
    // the last span that fitted.
    float mean = stats_.mean;
    for (int32_t i = 0; i < n; ++i) {
        const int16_t v = x[i];
        if (!inWave) {
            if (v >= 1 && previous <= 0) {
                inWave = true;
                wavePeak = v;
                waveIndex = i;
            }
        } else if (v < 0 && previous > 0) {
            inWave = false;
            const int32_t diff = wavePeak - previousPeak;
            if (diff >= 0) {
                if (wavePeak > runPeak) {
                    runPeak = wavePeak;
                    runIndex = waveIndex;
                }
                rise = std::max(rise, diff);
            } else {
                // Held in single precision, like the statistics' mean.
                mean = static_cast<float>(SpanMean(runIndex * u, spanMs, mean));
                // A quieter run could never outlast the pruning.
                if (runPeak >= kHalfWaveFloor) runs_.push_back({runIndex, runPeak, rise, mean});
                runPeak = 0;
                rise = 0;
            }
            previousPeak = wavePeak;
        } else if (v > wavePeak) {
            wavePeak = v;
            waveIndex = i;
        }
        previous = v;
    }
    runsValid_ = true;
}

void RMSObj::pruneEvents(double strengthFloor, double spacingMs) {
    std::vector<LevelEvent> kept;
    kept.reserve(events_.size());
    double lastTime = 0.0;
    for (const LevelEvent& e : events_) {
        if (e.strength < strengthFloor) continue;
        if (lastTime > 0.0 && e.timeMs < lastTime + spacingMs) continue;
        kept.push_back(e);
        lastTime = e.timeMs;
    }
    events_ = std::move(kept);
}
