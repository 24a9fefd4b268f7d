#pragma once

class SignalObj;

// Step 7: the bass line's loudness.
struct LowBandLevel {
    double meanDb = 0.0;  // over the sounding span, dB relative to full scale
};

// The song through a 150 Hz low-pass, in 250 ms RMS frames.
LowBandLevel ComputeLowBandLevel(SignalObj& song);
