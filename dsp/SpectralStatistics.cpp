#include "dsp/SpectralStatistics.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "dsp/FrameData.h"
#include "dsp/Rounding.h"

thread_local DensityAccumulator gDensityAccumulator;

void ResetDensityAccumulator() { gDensityAccumulator = DensityAccumulator(); }

namespace {

// trunc(f / spacing), at most `limit`, so that a frequency above the Nyquist
// limit cannot reach past the row.
int32_t binOf(const FrameData& s, double f, int32_t limit) {
    const double b = f / s.BinSpacing();
    if (!(b > 0.0)) return 0;
    return b >= limit ? limit : static_cast<int32_t>(b);
}

// Last bin of an inclusive range.
int32_t binOf(const FrameData& s, double f) { return binOf(s, f, s.BinCount() - 1); }

double frameMean(const FrameData& s, int32_t i) {
    const float* row = s.Frame(i);
    double sum = 0.0;
    for (int32_t k = 0; k < s.BinCount(); ++k) sum += row[k];
    return sum / s.BinCount();
}

// Mean and sample standard deviation (n - 1); 0 deviation for one value.
void meanAndDeviation(const std::vector<double>& v, double& mean, double& deviation) {
    double sum = 0.0;
    for (double x : v) sum += x;
    mean = sum / v.size();
    double squares = 0.0;
    for (double x : v) squares += (x - mean) * (x - mean);
    deviation = v.size() > 1 ? std::sqrt(squares / (v.size() - 1)) : 0.0;
}

}  // namespace

double SpectralCentroid(const FrameData& spectrum, int32_t i, double fmax) {
    const double s = spectrum.BinSpacing();
    const int32_t k1 = binOf(spectrum, fmax, spectrum.BinCount());  // exclusive end
    if (k1 <= 1) return 0.0;
    const float* row = spectrum.Frame(i);
    double weighted = 0.0;
    float total = 0.0f;  // single precision, as the level test below expects
    for (int32_t k = 1; k < k1; ++k) {
        weighted += row[k] * (k * s);
        total += row[k];
    }
    return total / (k1 - 1) > 1e-6 ? weighted / total : 0.0;
}

double SpectralFlatness(const FrameData& spectrum, int32_t i, double f1, double f2) {
    const int32_t k0 = binOf(spectrum, f1);
    const int32_t k1 = binOf(spectrum, f2);
    if (k1 < k0) return 0.0;
    const float* row = spectrum.Frame(i);
    const int32_t n = k1 - k0 + 1;
    double logSum = 0.0;
    double sum = 0.0;
    for (int32_t k = k0; k <= k1; ++k) {
        logSum += std::log(double(row[k]));  // a zero bin gives -inf and a geometric mean of 0
        sum += row[k];
    }
    const double arithmetic = sum / n;
    if (arithmetic < 1e-6) return 0.0;
    return std::exp(logSum / n) / arithmetic;
}

SpectralStatistics ComputeStatistics(const FrameData& spectrum) {
    SpectralStatistics r;
    const int32_t frames = spectrum.FrameCount();
    const int32_t bins = spectrum.BinCount();
    if (frames <= 0 || bins <= 0) return r;

    std::vector<double> values(frames);
    for (int32_t i = 0; i < frames; ++i) values[i] = SpectralCentroid(spectrum, i, 8000.0);
    meanAndDeviation(values, r.meanCentroid, r.centroidStdDev);
    for (int32_t i = 0; i < frames; ++i) values[i] = SpectralFlatness(spectrum, i, 250.0, 8000.0);
    meanAndDeviation(values, r.meanFlatness, r.flatnessStdDev);

    double meanSum = 0.0;
    float maximum = 0.0f;
    for (int32_t i = 0; i < frames; ++i) {
        meanSum += frameMean(spectrum, i);
        const float* row = spectrum.Frame(i);
        for (int32_t k = 0; k < bins; ++k) maximum = std::max(maximum, row[k]);
    }
    r.meanLevel = meanSum / frames;
    r.maxLevel = maximum;

    const double total = double(frames) * bins;
    const float meanF = static_cast<float>(r.meanLevel);
    double squares = 0.0;
    int64_t above = 0;
    int64_t audible = 0;
    for (int32_t i = 0; i < frames; ++i) {
        const float* row = spectrum.Frame(i);
        for (int32_t k = 0; k < bins; ++k) {
            const float d = row[k] - meanF;
            squares += double(d) * d;
            if (row[k] > r.meanLevel) ++above;
            if (row[k] > 0.001) ++audible;
        }
    }
    r.levelStdDev = total > 1.0 ? std::sqrt(squares / (total - 1.0)) : 0.0;
    r.percentAboveMean = 100.0 * above / total;
    r.percentAudible = 100.0 * audible / total;
    return r;
}

void SegmentStatistics(const FrameData& spectrum, int32_t start, int32_t length, int32_t count,
                       double* mean, double* maximum, double* percentAboveSegmentMean,
                       double* percentAboveSongMean) {
    const int32_t frames = spectrum.FrameCount();
    const int32_t bins = spectrum.BinCount();
    const int32_t hop = spectrum.Hop();
    double songMean = 0.0;
    for (int32_t i = 0; i < frames; ++i) songMean += frameMean(spectrum, i);
    if (frames > 0) songMean /= frames;

    for (int32_t j = 0; j < count; ++j) {
        mean[j] = maximum[j] = percentAboveSegmentMean[j] = percentAboveSongMean[j] = 0.0;
        if (hop <= 0 || bins <= 0) continue;
        const int64_t a = int64_t(start) + int64_t(j) * length;
        // Frames outside the computed ones are left out rather than read.
        const int32_t first = static_cast<int32_t>(std::clamp<int64_t>(a / hop, 0, frames));
        const int32_t end = static_cast<int32_t>(std::clamp<int64_t>((a + length) / hop, 0, frames));
        const int32_t n = end - first;
        if (n <= 0) continue;
        double sum = 0.0;
        float peak = 0.0f;
        for (int32_t i = first; i < end; ++i) {
            sum += frameMean(spectrum, i);
            const float* row = spectrum.Frame(i);
            for (int32_t k = 0; k < bins; ++k) peak = std::max(peak, row[k]);
        }
        const double segmentMean = sum / n;
        int64_t aboveSegment = 0;
        int64_t aboveSong = 0;
        for (int32_t i = first; i < end; ++i) {
            const float* row = spectrum.Frame(i);
            for (int32_t k = 0; k < bins; ++k) {
                if (row[k] > segmentMean) ++aboveSegment;
                if (row[k] > songMean) ++aboveSong;
            }
        }
        const double values = double(bins) * n;
        mean[j] = segmentMean;
        maximum[j] = peak;
        percentAboveSegmentMean[j] = 100.0 * aboveSegment / values;
        percentAboveSongMean[j] = 100.0 * aboveSong / values;
    }
}

double BandMeanLevel(const FrameData& spectrum, double startMs, double durationMs, double f1,
                     double f2, bool decibels) {
    const double h = spectrum.HopDuration();
    const int32_t frames = spectrum.FrameCount();
    if (!(h > 0.0)) return 0.0;
    int32_t i = truncToInt32(startMs / h + 0.0001);
    if (i >= frames) return 0.0;
    if (i < 0) i = 0;
    const int32_t n = truncToInt32(durationMs / h);
    const int32_t k0 = binOf(spectrum, f1);
    const int32_t k1 = binOf(spectrum, f2);
    if (n <= 0 || k1 < k0) return 0.0;
    float sum = 0.0f;
    const int32_t end = static_cast<int32_t>(std::min<int64_t>(int64_t(i) + n, frames));
    for (int32_t f = i; f < end; ++f) {
        const float* row = spectrum.Frame(f);
        for (int32_t k = k0; k <= k1; ++k)
            sum += decibels ? static_cast<float>(20.0 * std::log10(row[k] + 1e-5)) : row[k];
    }
    // The divisor is the frames asked for, also when fewer were left.
    return sum / (static_cast<float>(n) * static_cast<float>(k1 - k0 + 1));
}

double FindDensityBoundary(const FrameData& spectrum, double& meanDensity, double t0,
                           double segmentMs, double f1, double f2, double level,
                           double threshold, bool above, bool sliding) {
    const double h = spectrum.HopDuration();
    const int32_t frames = spectrum.FrameCount();
    meanDensity = 0.0;
    if (!(h > 0.0)) return threshold == 0.0 ? t0 : -1.0;
    const int32_t m = std::max(truncToInt32(segmentMs / h), 1);
    const int32_t k0 = binOf(spectrum, f1);
    const int32_t k1 = binOf(spectrum, f2);
    const int32_t bandBins = k1 - k0 + 1;

    auto rowCount = [&](int32_t f) {
        const float* row = spectrum.Frame(f);
        int64_t n = 0;
        for (int32_t k = k0; k <= k1; ++k)
            if (row[k] > level) ++n;
        return n;
    };
    int32_t i0 = std::max(truncToInt32(t0 / h + 0.0001), 0);
    int32_t cur = i0;
    double sum = 0.0;
    int32_t segments = 0;
    int32_t taken = 0;
    // Sliding segments overlap in all but one row at each end: the rows
    // [lo, hi) counted so far are kept, and the count moves with them.
    int32_t lo = i0, hi = i0;
    int64_t window = 0;
    do {
        int64_t count = 0;
        taken = 0;
        if (sliding) {
            cur = i0++;
            // m rows, or up to the last frame, which ends the segment before
            // it is counted as taken.
            const int32_t rows = cur < frames ? std::min(m, frames - cur) : 0;
            for (; hi < cur + rows; ++hi) window += rowCount(hi);
            for (; lo < cur && lo < hi; ++lo) window -= rowCount(lo);
            count = rows > 0 ? window : 0;
            cur += rows;
            taken = cur >= frames && rows > 0 ? rows - 1 : rows;
        } else {
            while (taken < m && cur < frames) {
                count += rowCount(cur);
                ++cur;
                // Reaching the last frame ends the segment before it is counted as taken.
                if (cur >= frames) break;
                ++taken;
            }
        }
        double density = taken > 0 && bandBins > 0 ? double(count) / (double(taken) * bandBins) : 0.0;
        if (threshold == 0.0) {
            meanDensity = density;
            return t0;
        }
        density = std::trunc(density * 100000.0) / 100000.0;
        if ((density >= threshold && above) || (density < threshold && !above)) break;
        sum += density;
        ++segments;
    } while (cur < frames);

    meanDensity = segments > 0 ? sum / segments : 0.0;
    if (threshold <= meanDensity) {
        gDensityAccumulator.sum += sum;
        gDensityAccumulator.count += segments;
    }
    return cur < frames ? (cur - taken) * h : -1.0;
}
