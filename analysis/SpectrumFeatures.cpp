#include "analysis/SpectrumFeatures.h"

#include "dsp/FFTObj.h"
#include "dsp/SignalObj.h"

SpectralStatistics ComputeSpectrumFeatures(SignalObj& song, FFTObj& spectrum) {
    spectrum.ComputeOn(&song, song.ScaleSampleCount(512, 22050), FrameData::kHammingWindow, 0.0);
    return ComputeStatistics(spectrum);
}
