#include "analysis/LowBandLevel.h"

#include "analysis/RMSObj.h"
#include "dsp/ButterFilter.h"
#include "dsp/SignalObj.h"

LowBandLevel ComputeLowBandLevel(SignalObj& song) {
    SignalObj lowBand;
    lowBand.CreateBuffer(song.length, song.rate, false);
    ButterFilter lowPass;
    lowPass.Bind(&song, lowBand.data);
    lowPass.LowPass(150.0, 0.0);

    RMSObj bass;
    bass.SetSignal(&lowBand);
    bass.SetBand(RMSObj::kLowPass, 150.0, 0.0);
    // No window or overlap named for this step: the framing defaults apply.
    bass.ComputeFrames(250.0);
    const double first = bass.FirstSoundingTime();
    LowBandLevel result;
    result.meanDb = bass.MeanLevelDb(first, bass.LastSoundingTime() - first);
    return result;
}
