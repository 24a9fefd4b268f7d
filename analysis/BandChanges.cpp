#include "analysis/BandChanges.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "dsp/FrameData.h"

namespace {

constexpr int32_t kBands = 400;
constexpr double kLowestHz = 50.0;
constexpr double kEdgeRatio = 200.0;  // the top edge is 10000 Hz
constexpr double kShortestSongMs = 10000.0;
constexpr double kAudibleDb = -60.0;
constexpr double kChangeDb = 6.0;

// Bins [first, end) of each band. A band narrower than the bin spacing may
// hold no bin; it reads the bin nearest its centre instead.
struct BandBins {
    int32_t first;
    int32_t end;
};

std::vector<BandBins> bandBins(const FrameData& spectrum) {
    const int32_t bins = spectrum.BinCount();
    std::vector<double> edges(kBands + 1);
    for (int32_t k = 0; k <= kBands; ++k) edges[k] = kLowestHz * std::pow(kEdgeRatio, double(k) / kBands);
    std::vector<BandBins> bands(kBands);
    int32_t b = 0;
    for (int32_t k = 0; k < kBands; ++k) {
        while (b < bins && spectrum.BinFrequency(b) < edges[k]) ++b;
        int32_t end = b;
        while (end < bins && spectrum.BinFrequency(end) < edges[k + 1]) ++end;
        if (end > b) {
            bands[k] = {b, end};
        } else {
            const double centre = (edges[k] + edges[k + 1]) / 2.0;
            const int32_t nearest = std::clamp<int32_t>(
                static_cast<int32_t>(std::lround(centre / spectrum.BinSpacing())), 0, bins - 1);
            bands[k] = {nearest, nearest + 1};
        }
    }
    return bands;
}

void bandLevels(const float* row, const std::vector<BandBins>& bands, std::vector<double>& levels) {
    for (int32_t k = 0; k < kBands; ++k) {
        const float value = *std::max_element(row + bands[k].first, row + bands[k].end);
        levels[k] = 20.0 * std::log10(value + 1e-5);
    }
}

}  // namespace

BandChanges ComputeBandChanges(const FrameData& spectrum, double songMs) {
    BandChanges r;
    const int32_t frames = spectrum.FrameCount();
    if (songMs < kShortestSongMs || frames < 2) return r;

    const std::vector<BandBins> bands = bandBins(spectrum);
    std::vector<double> before(kBands), after(kBands);
    bandLevels(spectrum.Frame(0), bands, before);
    double shareSum = 0.0;
    int32_t pairsHeard = 0;
    int32_t onsets = 0;
    for (int32_t f = 1; f < frames; ++f) {
        bandLevels(spectrum.Frame(f), bands, after);
        int32_t audible = 0, changing = 0, rising = 0;
        for (int32_t k = 0; k < kBands; ++k) {
            if (!(std::max(before[k], after[k]) > kAudibleDb)) continue;
            ++audible;
            const double rise = after[k] - before[k];
            if (std::fabs(rise) > kChangeDb) ++changing;
            if (rise > kChangeDb) ++rising;
        }
        if (audible > 0) {
            shareSum += double(changing) / audible;
            ++pairsHeard;
        }
        if (4 * rising > audible) ++onsets;
        std::swap(before, after);
    }
    const double changeShare = pairsHeard > 0 ? 100.0 * shareSum / pairsHeard : 0.0;
    const double onsetsPerMinute = onsets / (songMs / 60000.0);
    r.changeShare = changeShare * kChangeShareFactor;
    r.onsetRate = onsetsPerMinute * kOnsetRateFactor;
    return r;
}
