#include "analysis/SpectrumFeatures.h"

#include "dsp/FFTObj.h"
#include "dsp/SignalObj.h"

SpectralStatistics ComputeSpectrumFeatures(SignalObj& song, FFTObj& spectrum) {
    spectrum.SetSignal(&song);
    spectrum.SetFrameSize(song.ScaleSampleCount(512, 22050));
    spectrum.SetWindow(FrameData::kHammingWindow);
    spectrum.Compute(0.0);
    return ComputeStatistics(spectrum);
}
