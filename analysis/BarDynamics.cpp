#include "analysis/BarDynamics.h"

#include "analysis/RMSObj.h"

BarDynamics ComputeBarDynamics(SignalObj& song, double tempo) {
    BarDynamics result;
    if (!(tempo > 0.0)) return result;
    const double barMs = 4.0 * 60000.0 / tempo;
    RMSObj bars;
    bars.SetSignal(&song);
    bars.ComputeFrames(barMs, RMSObj::kRectangular, 0.0);
    result.fadeOutBars = bars.FadeOutLength(4);
    bars.ComputeFrames(barMs / 2.0, RMSObj::kRectangular, 0.0);
    const LevelChangeResult changes = bars.LevelChanges(8);
    result.levelChangeSum = changes.sum;
    result.levelChangeFloor = changes.floor;
    return result;
}
