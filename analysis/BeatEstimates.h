#pragma once
#include <cstdint>
#include <vector>

class RMSObj;
struct LevelEvent;

// One bar of a bar grid: where the walk stood and the tempo implied by the
// distance to the previous loudest point (-1.0 for a tolerated miss).
struct GridPoint {
    double timeMs;
    double localTempo;
};

// A stretch of bars: consistent runs hold bars whose loudest points follow
// each other at the bar length; the stretches between them are not consistent.
// Its points are points[first .. first + pointCount) of the grid.
struct BarRun {
    int32_t count = 0;
    int32_t first = 0;
    int32_t pointCount = 0;
    bool consistent = false;
};

struct BarGrid {
    std::vector<BarRun> runs;
    std::vector<GridPoint> points;
    void clear() {
        runs.clear();
        points.clear();
    }
};

// What the tempo analyser's two beat estimators read and set.
struct BeatState {
    double tempo = 120.0;  // beats per minute
    int32_t phase = 151;   // a bar start, ms
    int32_t beatsPerBar = 4;
    int32_t lowestTempo = 40;
    int32_t highestTempo = 190;  // the coarse estimate stops one below
    int32_t barTolerance = 50;   // ms
    int32_t missAllowance = 1;
    int32_t gridScore = -1;  // score of bestGrid
    BarGrid bestGrid;
};

// Walks the song a bar of 240000 / tempo ms at a time from the first sounding
// frame, asking where the loudest frame of the next bar lies; bars whose
// loudest points lie a bar length apart (within the tolerance) form runs.
void BuildBarGrid(const BeatState& state, const RMSObj& frames, double durationMs,
                  double tempo, BarGrid& grid);
// 10 x the sum of the squared counts of the consistent runs, less half the
// number of runs.
int32_t ScoreBarGrid(const BarGrid& grid);

// Coarse estimate: the whole tempo (lowest .. highest - 1) whose bar grid
// scores best, refined by the mean local tempo of its consistent runs; the
// phase is the loudest frame of the longest run, moved back by whole bars
// towards the first sounding frame. Keeps the winning grid and its score.
void EstimateCoarseBeat(BeatState& state, const RMSObj& frames, double durationMs);

// Estimate from level events: the most frequent interval between successive
// events is the bar period (the longer of two when the runner-up is about
// half or double it), folded into the tempo range; the phase is the
// strongest of the first 32 events moved back by whole bars. `frames`
// answers the level queries. Fewer than two events leave tempo and phase.
void EstimateBeatFromEvents(BeatState& state, const std::vector<LevelEvent>& events,
                            const RMSObj& frames);
