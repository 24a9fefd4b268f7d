#pragma once
#include <cstdint>

class SignalObj;

// Step 2: how the song's loudness moves bar by bar.
struct BarDynamics {
    int32_t fadeOutBars = 0;        // bars of a fading end; 0 when 4 or fewer
    double levelChangeSum = 0.0;    // dB of the half-bar level changes, / 128
    double levelChangeFloor = 0.0;  // quietest window compared, dB
};

// Bar-long and half-bar RMS frames at `tempo` beats per minute (4 beats to
// the bar); all zero when there is no tempo.
BarDynamics ComputeBarDynamics(SignalObj& song, double tempo);
