#pragma once

class SignalObj;

// Step 11: statistics of the tracks through the song's LPC envelopes.
struct LPCValues {
    float peakRate = 0.0f;               // envelope peaks per second
    float longTrackRate = 0.0f;          // tracks over 200 ms per second
    float meanLongTrackDuration = 0.0f;  // ms
    float harmonicFraction = 0.0f;       // share of long tracks with a harmonic above
    float meanLongTrackSpan = 0.0f;      // Hz
};

// Order 100, 4096-sample frames without overlap, 512 bins (at 22050 Hz).
LPCValues ComputeLPCValues(SignalObj& song);
