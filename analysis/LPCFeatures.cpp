#include "analysis/LPCFeatures.h"

#include "analysis/LPCObj.h"
#include "dsp/FrameTracker.h"
#include "dsp/SignalObj.h"

LPCValues ComputeLPCValues(SignalObj& song) {
    LPCObj lpc;
    lpc.ComputeOn(&song, 100, 4096, 512, 0.0);
    auto tracker = FrameTracker::Track(lpc, 0.008f, 0.04f, 0.1, 200.0);
    tracker->ComputeStatistics();
    return {tracker->PeakRate(), tracker->LongTrackRate(), tracker->MeanLongTrackDuration(),
            tracker->HarmonicFraction(), tracker->MeanLongTrackSpan()};
}
