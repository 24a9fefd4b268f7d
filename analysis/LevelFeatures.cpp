#include "analysis/LevelFeatures.h"

#include "analysis/RMSObj.h"

LevelFeatures ComputeLevelFeatures(SignalObj& song, RMSObj& level) {
    level.SetSignal(&song);
    level.ComputeFrames(60.0, RMSObj::kRectangular, 0.0);
    level.DetectEvents();
    const double first = level.FirstSoundingTime();
    level.Statistics(first, level.LastSoundingTime() - first);
    const RMSStatistics& s = level.Stats();
    LevelFeatures result;
    result.eventsPer10s = s.eventsPerPeriod;
    result.medianToPeak = static_cast<double>(s.median) / level.PeakLevel();
    result.stdDevToPeak = static_cast<double>(s.stdDev) / level.PeakLevel();
    return result;
}
