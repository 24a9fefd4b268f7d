#pragma once

class SignalObj;

// Step 8: busy and quiet stretches of the 2100-2600 Hz band, and how full
// the 30-5000 Hz band is, both over the sounding span.
struct SpectralSegments {
    double busyShare = 0.0;     // share of the span in busy stretches
    double busyDensity = 0.0;   // mean density of the busy stretches' segments
    double wideBandFill = 0.0;  // share of 30-5000 Hz values above 0.006
};

// Walks 1000 ms segments of unwindowed 512-sample spectra, alternating
// between looking for the next busy and the next quiet segment. Resets the
// process-wide density accumulator first and reads it afterwards.
SpectralSegments ComputeSpectralSegments(SignalObj& song);
