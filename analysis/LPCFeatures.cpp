#include "analysis/LPCFeatures.h"

#include "analysis/LPCObj.h"
#include "dsp/FrameTracker.h"
#include "dsp/SignalObj.h"

LPCValues ComputeLPCValues(SignalObj& song) {
    LPCObj lpc;
    lpc.SetSignal(&song);
    lpc.SetOrder(song.ScaleSampleCount(100, 22050));
    lpc.SetFrameLength(song.ScaleSampleCount(4096, 22050));
    lpc.SetBinCount(song.ScaleSampleCount(512, 22050));
    lpc.Compute(0.0);
    auto tracker = FrameTracker::Track(lpc, 0.008f, 0.04f, 0.1, 200.0);
    tracker->ComputeStatistics();
    return {tracker->PeakRate(), tracker->LongTrackRate(), tracker->MeanLongTrackDuration(),
            tracker->HarmonicFraction(), tracker->MeanLongTrackSpan()};
}
