#pragma once
#include "dsp/SpectralStatistics.h"

class FFTObj;
class SignalObj;

// Step 6: 512-sample Hamming spectra of the song (kept in `spectrum`, the
// song's shared FFT object) and their statistics.
SpectralStatistics ComputeSpectrumFeatures(SignalObj& song, FFTObj& spectrum);
