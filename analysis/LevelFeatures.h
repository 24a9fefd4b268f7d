#pragma once

class RMSObj;
class SignalObj;

// Step 5: the level curve of 60 ms frames and its events.
struct LevelFeatures {
    double eventsPer10s = 0.0;
    double medianToPeak = 0.0;  // median frame level / largest
    double stdDevToPeak = 0.0;  // deviation over the sounding span / largest
};

// Frames the song into `level` (the song's shared RMS object) and reads it.
LevelFeatures ComputeLevelFeatures(SignalObj& song, RMSObj& level);
