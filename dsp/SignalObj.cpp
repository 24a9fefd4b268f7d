#include "dsp/SignalObj.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "dsp/LargePages.h"
#include "dsp/QuorbixError.h"
#include "dsp/Resampler.h"
#include "dsp/Rounding.h"
#include "dsp/SideBySide.h"

namespace {



// An offset beyond this is removed from the samples.
constexpr double kDCThreshold = 15.0;
// Below about 10 s of output (or 6 s of input) a second thread costs more
// than it saves.
constexpr int32_t kResampleSplitFrom = 1 << 18;
// Whole-signal passes (sums, peak, gain) split in two from about 12 s of
// 44.1 kHz audio.
constexpr int32_t kSplitPassesFrom = 1 << 19;
// Sums of squares below this are exact as doubles, and so is the cross sum.
constexpr int64_t kExactSquareSums = int64_t(1) << 53;
// A stereo signal this negatively correlated is mixed down as its difference.
constexpr double kDifferenceMixBelow = -0.98;

// work(0, 0, n / 2) and work(1, n / 2, n) (part, first, end), side by side
// when n is long enough: for passes whose halves give the bits of the whole.
template <typename Work>
void inHalves(int32_t n, Work work) {
    const int32_t half = n / 2;
    runSideBySide([&] { work(0, 0, half); }, [&] { work(1, half, n); }, n >= kSplitPassesFrom);
}

inline int16_t* allocSamples(size_t n) {
    // Zero-filled: samples a reader leaves undelivered are silence.
    auto* p = static_cast<int16_t*>(std::calloc(n ? n : 1, sizeof(int16_t)));
    if (!p) throw QuorbixError("SignalObj::CreateBuffer: Failed to acquire memory\n");
    adviseLargePages(p, n * sizeof(int16_t));
    return p;
}

}  // namespace

SignalObj::~SignalObj() {
    excerpts_.clear();
    if (ownsData_) std::free(data);
    data = nullptr;
}

void SignalObj::replaceBuffer(int16_t* fresh, int32_t frames) {
    if (ownsData_) std::free(data);
    data = fresh;
    ownsData_ = true;
    length = frames;
    elementCount = frames * width;
}

void SignalObj::CreateBuffer(int32_t count, int32_t sampleRate, bool stereo) {
    if (count < 0) count = 0;
    width = stereo ? 2 : 1;
    wasStereo = stereo;
    const int32_t frames = count / width;
    // Room for all `count` values the reader will write: with an odd count
    // (three or more channels) that is one more than the frames hold.
    int16_t* fresh = allocSamples(static_cast<size_t>(count));
    replaceBuffer(fresh, frames);
    rate = sampleRate;
    durationMs = GetDurationMs();
}

void SignalObj::ShrinkBuffer(int32_t count) {
    const int32_t frames = std::min(std::max(count, 0) / width, length);
    shrink(static_cast<size_t>(std::max(count, 0)));
    length = frames;
    elementCount = frames * width;
}

void SignalObj::Crop(double startMs, double lengthMs) {
    const int32_t first = truncToInt32(rate * startMs / 1000.0);
    const int32_t end = truncToInt32(rate * lengthMs / 1000.0 + first);
    const int64_t frames = int64_t(end) - first;
    if (frames < 1) throw QuorbixError("Signal is corrupt");
    keepFrames(first, static_cast<int32_t>(std::min<int64_t>(frames, INT32_MAX)));
}

// Keeps frames [first, first + frames) of the buffer, moving them to its start
// and returning the rest to the system; frames beyond the end are silence.
// Works in place: a whole song is large, and a second buffer costs a second
// round of page faults.
void SignalObj::keepFrames(int32_t first, int32_t frames) {
    const size_t keep = static_cast<size_t>(frames) * width;
    const int64_t end = int64_t(first) + frames;
    const int64_t available = std::max<int64_t>(0, std::min<int64_t>(end, length) - std::max(first, 0));
    if (first < 0 || end > length) {
        int16_t* fresh = allocSamples(keep);
        if (available > 0)
            std::memcpy(fresh, data + static_cast<size_t>(std::max(first, 0)) * width,
                        static_cast<size_t>(available) * width * sizeof(int16_t));
        replaceBuffer(fresh, frames);
        return;
    }
    makeOwned();
    if (first > 0) std::memmove(data, data + static_cast<size_t>(first) * width, keep * sizeof(int16_t));
    shrink(keep);
    length = frames;
    elementCount = frames * width;
}

void SignalObj::shrink(size_t values) {
    if (void* smaller = std::realloc(data, std::max<size_t>(values, 1) * sizeof(int16_t)))
        data = static_cast<int16_t*>(smaller);
}

SignalObj* SignalObj::CreateExcerpt(double startMs, double lengthMs) {
    const double duration = GetDurationMs();
    if (startMs + lengthMs > duration) lengthMs = duration - startMs;
    auto ex = std::make_unique<SignalObj>();
    ex->rate = rate;
    ex->width = width;
    ex->wasStereo = wasStereo;
    ex->durationMs = durationMs;
    ex->stereoDifference = stereoDifference;
    ex->gain = gain;
    ex->longSilenceCut = longSilenceCut;
    ex->dcOffset = dcOffset;
    ex->stereoCorrelation = stereoCorrelation;
    ex->stereoMeasured = stereoMeasured;
    ex->stereoBalanceDb = stereoBalanceDb;
    int32_t first = truncToInt32(rate * startMs / 1000.0);
    int32_t frames = truncToInt32(rate * lengthMs / 1000.0);
    if (first < 0) first = 0;
    if (first > length) first = length;
    if (frames < 0) frames = 0;
    if (int64_t(first) + frames > length) frames = length - first;
    ex->data = data + static_cast<size_t>(first) * width;
    ex->ownsData_ = false;
    ex->length = frames;
    ex->elementCount = frames * width;
    excerpts_.push_back(std::move(ex));
    return excerpts_.back().get();
}

void SignalObj::MeasureStereo() {
    if (width != 2) return;
    // Integer sums are exact, in any order and in two halves; a running
    // double sum of the same integer terms is too while it stays below 2^53
    // (Cauchy-Schwarz bounds the cross sum by the other two), so both give
    // the same bits. Above that only the running double sum gives them.
    auto sums = [this](auto zero, int32_t from, int32_t to) {
        decltype(zero) lr = 0, ll = 0, rr = 0;
        for (int32_t i = from; i < to; ++i) {
            const int32_t l = data[2 * i], r = data[2 * i + 1];
            lr += l * r;
            ll += l * l;
            rr += r * r;
        }
        return std::array<decltype(zero), 3>{lr, ll, rr};
    };
    std::array<int64_t, 3> halves[2] = {};
    inHalves(length, [&](int part, int32_t from, int32_t to) { halves[part] = sums(int64_t{0}, from, to); });
    std::array<int64_t, 3> exact{};
    for (int k = 0; k < 3; ++k) exact[k] = halves[0][k] + halves[1][k];
    const auto s = exact[1] < kExactSquareSums && exact[2] < kExactSquareSums
                       ? std::array<double, 3>{double(exact[0]), double(exact[1]), double(exact[2])}
                       : sums(0.0, 0, length);
    setStereoMeasure(s[0], s[1], s[2]);
}

double SignalObj::correlationOf(double sLR, double sLL, double sRR) { return sLR / std::sqrt(sLL * sRR); }

void SignalObj::setStereoMeasure(double sLR, double sLL, double sRR) {
    stereoCorrelation = correlationOf(sLR, sLL, sRR);
    stereoBalanceDb = 10.0 * std::log10((sLL / length) / (sRR / length));
    stereoMeasured = true;
}

bool SignalObj::DownMixFromSums(const StereoSums& sums, bool& difference) {
    if (sums.ll >= kExactSquareSums || sums.rr >= kExactSquareSums) return false;
    difference = correlationOf(double(sums.lr), double(sums.ll), double(sums.rr)) < kDifferenceMixBelow;
    return true;
}

void SignalObj::AdoptDownMix(const StereoSums& sums) {
    wasStereo = true;
    setStereoMeasure(double(sums.lr), double(sums.ll), double(sums.rr));
    stereoDifference = length > 0 ? static_cast<int32_t>(double(sums.absDiff) / length) : 0;
}

void SignalObj::PrepareStereo(int32_t targetRate, double threshold) {
    if (stereoCorrelation < kDifferenceMixBelow)
        MixDifferenceToMono();
    else
        MixToMono();
    PrepareMono(targetRate, threshold);
}

template <bool Difference>
void SignalObj::mixDown() {
    if (width != 2) return;
    makeOwned();
    // In place, a block at a time through a buffer: block [k, k + B) is
    // written after values [2k, 2k + 2B) were read, and later blocks read
    // from 2k + 2B on. The sum of |l - r| is below 2^47: exact as an integer.
    const int32_t frames = length;
    constexpr int32_t kBlock = 1024;
    int16_t mixed[kBlock];
    int64_t diffSum = 0;
    for (int32_t k = 0; k < frames; k += kBlock) {
        const int32_t n = std::min(kBlock, frames - k);
        const int16_t* in = data + 2 * size_t(k);
        for (int32_t i = 0; i < n; ++i) {
            const int32_t l = in[2 * i], r = in[2 * i + 1];
            mixed[i] = static_cast<int16_t>(Difference ? (l - r) / 2 : (l + r) / 2);
            diffSum += std::abs(l - r);
        }
        std::memcpy(data + k, mixed, size_t(n) * sizeof(int16_t));
    }
    width = 1;
    shrink(static_cast<size_t>(frames));
    elementCount = frames;
    stereoDifference = frames > 0 ? static_cast<int32_t>(double(diffSum) / frames) : 0;
}

// The in-place operations need samples of their own: an excerpt copies its
// stretch of the parent's buffer first.
void SignalObj::makeOwned() {
    if (ownsData_) return;
    int16_t* copy = allocSamples(static_cast<size_t>(elementCount));
    if (elementCount > 0) std::memcpy(copy, data, static_cast<size_t>(elementCount) * sizeof(int16_t));
    replaceBuffer(copy, length);
}

void SignalObj::MixToMono() { mixDown<false>(); }
void SignalObj::MixDifferenceToMono() { mixDown<true>(); }

void SignalObj::Prepare(int32_t targetRate, double threshold) {
    if (width == 2) {
        MeasureStereo();
        PrepareStereo(targetRate, threshold);
    } else {
        PrepareMono(targetRate, threshold);
    }
}

void SignalObj::PrepareMono(int32_t targetRate, double threshold) {
    TrimSilence(threshold, threshold);
    const bool twoCores = width == 1 && secondThreadWanted();
    if (rate == targetRate && twoCores && elementCount >= kSplitPassesFrom) {
        int32_t peak = 0;
        removeDCOffsetBeside([&](const int16_t* samples) { peak = peakLevel(samples); });
        normalizeTo(peak);
        return;
    }
    if (rate != targetRate && twoCores && elementCount >= kResampleSplitFrom) {
        int16_t* out = nullptr;
        int32_t produced = 0;
        try {
            removeDCOffsetBeside([&](const int16_t* samples) {
                std::free(out);
                out = nullptr;
                out = resampled(samples, targetRate, produced);
            });
        } catch (...) {
            std::free(out);
            throw;
        }
        replaceBuffer(out, produced);
        rate = targetRate;
    } else {
        RemoveDCOffset();
        if (rate != targetRate) ChangeRate(targetRate);
    }
    Normalize();
}

// The DC estimate is one long serial recurrence. The quick estimate settles
// the usual case (an offset well inside the threshold leaves the samples as
// they are) before `meanwhile` starts on them. Otherwise `meanwhile` runs
// beside the exact estimate on the samples as the quick offset removes them,
// made in a buffer of their own. Removal maps each sample value on its own,
// so they stand when the exact offset maps every value in the signal's range
// the same way; else the exact removal is made in place and `meanwhile` runs
// again.
void SignalObj::removeDCOffsetBeside(const std::function<void(const int16_t*)>& meanwhile) {
    const double quick = quickDCOffset();
    if (std::isnan(quick)) {  // too short to settle: the plain sequence
        RemoveDCOffset();
        meanwhile(data);
        return;
    }
    if (std::fabs(quick) < kDCThreshold - 0.01) {
        dcOffset = quick;
        meanwhile(data);
        return;
    }
    int32_t minV = 0, maxV = 0;
    for (int32_t i = 0; i < length; ++i) {
        minV = std::min<int32_t>(minV, data[i]);
        maxV = std::max<int32_t>(maxV, data[i]);
    }
    const DCEstimate guess = dcEstimateFor(quick, minV, maxV);
    const std::vector<int16_t> guessed = removalTable(guess, minV, maxV);
    std::unique_ptr<int16_t, decltype(&std::free)> removed(nullptr, &std::free);
    DCEstimate exact;
    runSideBySide([&] { exact = settledDCEstimate(); },
                  [&] {
                      if (!guess.removes) return meanwhile(data);
                      removed.reset(allocSamples(static_cast<size_t>(length)));
                      int16_t* y = removed.get();
                      for (int32_t i = 0; i < length; ++i) y[i] = guessed[size_t(data[i] - minV)];
                      meanwhile(y);
                  });
    dcOffset = exact.offset;
    if (exact.removes == guess.removes && removalTable(exact, minV, maxV) == guessed) {
        if (removed) replaceBuffer(removed.release(), length);
        return;
    }
    removed.reset();
    if (exact.removes) removeDCOffset(exact);
    meanwhile(data);
}

void SignalObj::TrimSilence(double startThreshold, double endThreshold) {
    const int16_t* x = data;
    const int32_t n = length;
    const int32_t block = truncToInt32(rate * 2.2 / 400.0);
    durationMs = GetDurationMs();

    int32_t start = n;
    {
        double sum = 0.0;
        int32_t count = 0;
        for (int32_t i = 0; i < n; ++i) {
            sum += std::abs(static_cast<int32_t>(x[i]));
            if (++count == block) {
                if (sum / block > startThreshold) {
                    start = i - block;
                    break;
                }
                sum = 0.0;
                count = 0;
            }
        }
        if (start < 0) start = 0;
    }

    int32_t e = n;
    {
        double sum = 0.0;
        int32_t count = 0;
        while (start < e) {
            sum += std::abs(static_cast<int32_t>(x[e - 1]));
            if (++count == block) {
                if (sum / block > endThreshold) {
                    e += block;
                    break;
                }
                sum = 0.0;
                count = 0;
            }
            --e;
        }
    }
    int32_t end = std::min(e, n);
    if (end - start <= 0) throw QuorbixError("Signal has silence only", 1);

    longSilenceCut = false;
    const int64_t longRun = 30LL * rate;
    int64_t run = 0;
    constexpr int32_t kChunk = 64;
    for (int32_t i = start; i < end;) {
        // A chunk that cannot take the run past the limit only sets the run
        // to the quiet samples after its last loud one.
        if (end - i >= kChunk && run + kChunk <= longRun) {
            int32_t j = i + kChunk - 1;
            while (j >= i && std::abs(static_cast<int32_t>(x[j])) < 2) --j;
            run = j < i ? run + kChunk : i + kChunk - 1 - j;
            i += kChunk;
            continue;
        }
        run = std::abs(static_cast<int32_t>(x[i])) < 2 ? run + 1 : 0;
        if (run > longRun) {
            longSilenceCut = true;
            end = static_cast<int32_t>(i - run);
            break;
        }
        ++i;
    }

    const int32_t frames = end - start;
    if (frames < 1) throw QuorbixError("Signal is corrupt");
    // Works on the first `length` values whatever the width: a two-channel
    // signal prepared without a down-mix keeps width 2 but only these values.
    makeOwned();
    if (start > 0) std::memmove(data, data + start, static_cast<size_t>(frames) * sizeof(int16_t));
    shrink(static_cast<size_t>(frames));
    length = frames;
    elementCount = frames;
}

namespace {

// The settled mean of the running average m += (v - m) * alpha, computed as
// sixteen chains over sixteenths of the samples, each from 0, joined
// afterwards (the average is linear in its start): independent chains do not
// wait on each other's latency, and half of them run on each core. Rounding
// makes it differ from the single chain by far less than 1e-3 (both stay
// within about 1e-6 of the exact value), so it can tell that an offset is
// well inside the removal threshold.
double quickSettledMean(const int16_t* x, int32_t n, double alpha, int64_t settle) {
    constexpr int32_t kChains = 16, kHalf = kChains / 2;
    const int32_t len = n / kChains;
    double m[kChains] = {}, sum[kChains] = {};
    auto run = [&](int32_t first) {
        double mh[kHalf] = {}, sh[kHalf] = {};
        for (int32_t t = 0; t < len; ++t) {
            for (int32_t k = 0; k < kHalf; ++k) {
                const int32_t i = (first + k) * len + t;
                mh[k] += (x[i] - mh[k]) * alpha;
                sh[k] += i >= settle ? mh[k] : 0.0;
            }
        }
        if (first + kHalf == kChains) {  // the last chain takes the rest
            for (int32_t i = kChains * len; i < n; ++i) {
                mh[kHalf - 1] += (x[i] - mh[kHalf - 1]) * alpha;
                if (i >= settle) sh[kHalf - 1] += mh[kHalf - 1];
            }
        }
        std::copy(mh, mh + kHalf, m + first);
        std::copy(sh, sh + kHalf, sum + first);
    };
    runSideBySide([&] { run(0); }, [&] { run(kHalf); }, n >= kSplitPassesFrom);
    const double r = 1.0 - alpha;
    double carried = 0.0, total = 0.0;  // the average just before a chain's first sample
    for (int32_t j = 0; j < kChains; ++j) {
        const int64_t s = int64_t(j) * len, e = j == kChains - 1 ? n : s + len;
        // The carried value decays as r^k at the k-th sample of the chain.
        const int64_t f = std::max<int64_t>(s, settle);
        if (f < e) total += carried * std::pow(r, double(f - s + 1)) * (1.0 - std::pow(r, double(e - f))) / alpha;
        total += sum[j];
        carried = carried * std::pow(r, double(e - s)) + m[j];
    }
    return total / double(n - settle);
}

}  // namespace

double SignalObj::quickDCOffset() const {
    const int64_t settle = 3 * int64_t(truncToInt32(rate * 1.0));
    if (length <= settle) return std::numeric_limits<double>::quiet_NaN();
    return quickSettledMean(data, length, 1000.0 / (rate * 1000.0), settle);
}

SignalObj::DCEstimate SignalObj::estimateDCOffset() const {
    const double quick = quickDCOffset();
    if (std::fabs(quick) < kDCThreshold - 0.01) {
        DCEstimate dc;
        dc.offset = quick;
        return dc;
    }
    return settledDCEstimate();
}

SignalObj::DCEstimate SignalObj::settledDCEstimate() const {
    const int32_t n = length;
    const double alpha = 1000.0 / (rate * 1000.0);
    const int64_t settle = 3 * int64_t(truncToInt32(rate * 1.0));
    double m = 0.0, sum = 0.0;
    int32_t counter = 0;
    int32_t maxV = 0, minV = 0;
    for (int32_t i = 1; i <= n; ++i) {
        const int32_t v = data[i - 1];
        m += (v - m) * alpha;
        if (i > settle) {
            sum += m;
            ++counter;
        }
        if (v > maxV) maxV = v;
        if (v < minV) minV = v;
    }
    // With no settled estimate (a song under three seconds) the quotient is
    // not a number and the comparison below leaves the samples alone.
    return dcEstimateFor(counter > 0 ? sum / counter : std::numeric_limits<double>::quiet_NaN(), minV, maxV);
}

SignalObj::DCEstimate SignalObj::dcEstimateFor(double offset, int32_t minV, int32_t maxV) {
    DCEstimate dc;
    dc.offset = offset;
    dc.removes = std::fabs(offset) > kDCThreshold;
    if (!dc.removes) return dc;
    const double d = offset;
    double s1 = 0.0, s2 = 0.0;
    if (maxV - d > 32767.0) s1 = (32767.0 + d) / maxV;
    if (minV - d < -32768.0) s2 = (d - 32768.0) / minV;
    dc.scale = s1 > 0 ? s1 : (s2 > 0 ? s2 : 0.0);
    return dc;
}

int16_t SignalObj::removedSample(int16_t v, const DCEstimate& dc) {
    const double x = dc.scale > 0 ? v * dc.scale : v;
    return static_cast<int16_t>(roundHalfAwaySmall(x - dc.offset));
}

std::vector<int16_t> SignalObj::removalTable(const DCEstimate& dc, int32_t minV, int32_t maxV) {
    std::vector<int16_t> table(size_t(maxV - minV + 1));
    for (int32_t v = minV; v <= maxV; ++v)
        table[size_t(v - minV)] = dc.removes ? removedSample(int16_t(v), dc) : int16_t(v);
    return table;
}

void SignalObj::removeDCOffset(const DCEstimate& dc) {
    for (int32_t i = 0; i < length; ++i) data[i] = removedSample(data[i], dc);
}

void SignalObj::RemoveDCOffset() {
    const DCEstimate dc = estimateDCOffset();
    dcOffset = dc.offset;
    if (dc.removes) removeDCOffset(dc);
}

double SignalObj::PreparedMonoDurationMs(int32_t targetRate, double threshold) {
    TrimSilence(threshold, threshold);
    // DC removal and normalisation change no length.
    if (rate == targetRate || width != 1) return GetDurationMs();
    const double ratio = static_cast<double>(targetRate) / rate;
    const int32_t wanted = static_cast<int32_t>(elementCount * ratio);
    Resampler counter;
    counter.SetUp(ratio, 1, 1.0);
    int32_t consumed = elementCount;
    // No block falls in the computed range: the window walks as it would.
    const int32_t produced = counter.Convert(data, consumed, wanted, nullptr, INT32_MAX, INT32_MAX);
    return 1000.0 * produced / targetRate;
}

int16_t* SignalObj::resampled(const int16_t* samples, int32_t targetRate, int32_t& produced) const {
    const double ratio = static_cast<double>(targetRate) / rate;
    const int32_t capacity = static_cast<int32_t>(elementCount * ratio + 2.0);
    int16_t* out = allocSamples(static_cast<size_t>(capacity));
    try {
        const int32_t wanted = static_cast<int32_t>(elementCount * ratio);
        Resampler early, late;
        early.SetUp(ratio, 1, 1.0);
        int32_t consumed = elementCount;
        if (wanted < kResampleSplitFrom || !secondThreadWanted()) {
            produced = early.Convert(samples, consumed, wanted, out);
        } else {
            // Each half on a resampler of its own; the late one walks the
            // early half's window without computing it.
            late.SetUp(ratio, 1, 1.0);
            int32_t lateConsumed = elementCount;
            runSideBySide([&] { produced = late.Convert(samples, lateConsumed, wanted, out, wanted / 2, INT32_MAX); },
                          [&] { early.Convert(samples, consumed, wanted, out, 0, wanted / 2); });
        }
    } catch (...) {
        std::free(out);
        throw;
    }
    return out;
}

void SignalObj::ChangeRate(int32_t targetRate) {
    if (width != 1) return;
    int32_t produced = 0;
    int16_t* out = resampled(data, targetRate, produced);
    replaceBuffer(out, produced);
    rate = targetRate;
}

// The largest |sample|; a maximum is the same in any order, so long
// signals are scanned in two halves side by side.
int32_t SignalObj::peakLevel(const int16_t* samples) const {
    auto scan = [samples](int32_t from, int32_t to) {
        int32_t peak = 0;
        for (int32_t i = from; i < to; ++i) peak = std::max(peak, std::abs(static_cast<int32_t>(samples[i])));
        return peak;
    };
    int32_t halves[2] = {};
    inHalves(length, [&](int part, int32_t from, int32_t to) { halves[part] = scan(from, to); });
    return std::max(halves[0], halves[1]);
}

void SignalObj::Normalize() { normalizeTo(peakLevel(data)); }

void SignalObj::normalizeTo(int32_t peak) {
    if (peak > 0 && peak < 32767) {
        gain = 32767.0 / peak;
        // Each sample on its own: two halves give the same bits.
        inHalves(length, [this](int, int32_t from, int32_t to) {
            for (int32_t i = from; i < to; ++i) data[i] = static_cast<int16_t>(roundHalfAwaySmall(data[i] * gain));
        });
    } else {
        // A peak of 0 (a constant signal after DC removal) would need an
        // infinite gain: leave such a signal as it is.
        gain = 1.0;
    }
    stereoDifference = static_cast<int32_t>(stereoDifference * gain);
}

double SignalObj::FirstSampleAbove(int16_t level) const {
    int32_t i = 0;
    while (i < length && std::abs(static_cast<int32_t>(data[i])) <= level) ++i;
    return (1000.0 / rate) * i;
}

double SignalObj::LastSampleAbove(int16_t level) const {
    int32_t i = length - 1;
    while (i >= 0 && std::abs(static_cast<int32_t>(data[i])) <= level) --i;
    return (1000.0 / rate) * i;
}

int32_t SignalObj::ScaleSampleCount(int32_t n, int32_t referenceRate) const {
    const float ratio = static_cast<float>(rate) / static_cast<float>(referenceRate);
    return static_cast<int32_t>(static_cast<float>(n) * ratio + 0.5f);
}
