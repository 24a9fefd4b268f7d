#include "analysis/SpectralSegments.h"

#include <algorithm>

#include "dsp/FFTObj.h"
#include "dsp/SignalObj.h"
#include "dsp/SpectralStatistics.h"

namespace {

constexpr double kSegmentMs = 1000.0;
constexpr double kBandLowHz = 2100.0;
constexpr double kBandHighHz = 2600.0;
constexpr double kBandLevel = 0.0135;
constexpr double kBusyDensity = 0.5;

}  // namespace

SpectralSegments ComputeSpectralSegments(SignalObj& song) {
    SpectralSegments r;
    const double t0 = song.FirstSampleAbove(5);
    const double t1 = song.LastSampleAbove(50);

    FFTObj spectrum;
    spectrum.ComputeOn(&song, song.ScaleSampleCount(512, 22050), FrameData::kRectangular, 0.0);

    // Earlier searches (the bar-pattern fill) leave their sums behind.
    ResetDensityAccumulator();
    double t = t0;
    bool above = true;
    double busyMs = 0.0;
    // Each search either passes segments or stops on the first one, which
    // the next search (opposite direction) then passes: the walk advances.
    for (;;) {
        double meanDensity = 0.0;
        const double boundary = FindDensityBoundary(spectrum, meanDensity, t, kSegmentMs, kBandLowHz,
                                                    kBandHighHz, kBandLevel, kBusyDensity, above, false);
        const bool end = boundary < 0.0;
        // The last stretch runs to the end of the sounding span; one whose
        // segments already passed it has no length.
        const double length = std::max(0.0, (end ? t1 : boundary) - t);
        if (meanDensity > kBusyDensity) busyMs += length;
        if (end) break;
        t = boundary;
        above = !above;
    }
    if (gDensityAccumulator.count > 0) r.busyDensity = gDensityAccumulator.sum / gDensityAccumulator.count;
    if (t1 > t0) r.busyShare = busyMs / (t1 - t0);

    // Threshold 0: the whole span measured as one segment.
    FindDensityBoundary(spectrum, r.wideBandFill, t0, t1 - t0, 30.0, 5000.0, 0.006, 0.0, false, false);
    return r;
}
