#include "analysis/BeatEstimates.h"

#include <cmath>
#include <utility>

#include "analysis/RMSObj.h"
#include "dsp/Rounding.h"

namespace {

// Queries start from a clean level and shape so that a span without frames
// never hands back the previous query's answer.
double loudestFrame(const RMSObj& frames, double startMs, double lengthMs, double* level = nullptr,
                    int32_t* shape = nullptr) {
    int32_t s = -1;
    double l = 0.0;
    const double t = frames.LevelQuery(startMs, lengthMs, 0.0, 1.05, s, l);
    if (level != nullptr) *level = l;
    if (shape != nullptr) *shape = s;
    return t;
}

// Moves a bar start back (or forward) by whole bars towards `startMs`.
int32_t foldPhase(int32_t phase, double startMs, double barMs) {
    return truncToInt32(phase - std::trunc((phase - startMs) / barMs) * barMs);
}

}  // namespace

void BuildBarGrid(const BeatState& state, const RMSObj& frames, double durationMs, double tempo,
                  BarGrid& grid) {
    grid.clear();
    const double q = state.beatsPerBar * 60000.0;
    const double bar = q / tempo;
    const double tolerance = state.barTolerance;
    BarRun run;
    if (!(bar > tolerance)) {
        grid.runs.push_back(run);
        return;
    }
    auto startRun = [&](int32_t count, bool consistent) {
        grid.runs.push_back(run);
        run = BarRun{count, static_cast<int32_t>(grid.points.size()), 0, consistent};
    };

    // Misses inside a consistent run wait here until the next hit keeps the
    // run going or one miss too many ends it.
    std::vector<GridPoint> held;
    int32_t misses = 0;
    const double s = frames.FirstSoundingTime();
    double t = s;
    double previous = s;
    while (t < durationMs) {
        const double r = loudestFrame(frames, t, bar);
        const double d = r - previous;
        if (d <= bar - tolerance || d >= bar + tolerance) {
            if (!run.consistent) {
                ++run.count;
            } else if (++misses > state.missAllowance) {
                startRun(misses, false);
                misses = 0;
                held.clear();
            } else {
                held.push_back({t, -1.0});
            }
            t += bar;
        } else {
            if (!run.consistent) startRun(0, true);
            if (misses > 0) {
                grid.points.insert(grid.points.end(), held.begin(), held.end());
                run.pointCount += static_cast<int32_t>(held.size());
                run.count += misses;
                misses = 0;
                held.clear();
            }
            grid.points.push_back({t, q / d});
            ++run.pointCount;
            ++run.count;
            t += d;
        }
        previous = r;
    }
    grid.runs.push_back(run);
}

int32_t ScoreBarGrid(const BarGrid& grid) {
    int64_t squares = 0;
    for (const BarRun& run : grid.runs)
        if (run.consistent) squares += static_cast<int64_t>(run.count) * run.count;
    return static_cast<int32_t>(10 * squares - static_cast<int64_t>(grid.runs.size() / 2));
}

void EstimateCoarseBeat(BeatState& state, const RMSObj& frames, double durationMs) {
    state.beatsPerBar = 4;
    state.barTolerance = 50;
    state.missAllowance = 1;
    state.gridScore = -1;
    state.bestGrid.clear();

    // Every grid scores at least 0, so the lowest tempo is always taken.
    BarGrid grid;
    int32_t bestTempo = state.lowestTempo;
    for (int32_t tempo = state.lowestTempo; tempo < state.highestTempo; ++tempo) {
        BuildBarGrid(state, frames, durationMs, tempo, grid);
        const int32_t score = ScoreBarGrid(grid);
        if (score > state.gridScore) {
            state.gridScore = score;
            std::swap(state.bestGrid, grid);
            bestTempo = tempo;
        }
    }

    double sum = 0.0;
    int32_t n = 0;
    for (const BarRun& run : state.bestGrid.runs) {
        if (!run.consistent) continue;
        for (int32_t i = run.first; i < run.first + run.pointCount; ++i) {
            const double local = state.bestGrid.points[i].localTempo;
            if (local > 0.0) {
                sum += local;
                ++n;
            }
        }
    }
    state.tempo = n > 0 ? sum / n : bestTempo;

    // The phase comes from the longest run of a strict grid at the winning tempo.
    const double s = frames.FirstSoundingTime();
    state.phase = truncToInt32(s);
    state.missAllowance = 0;
    BuildBarGrid(state, frames, durationMs, bestTempo, grid);
    const BarRun* longest = nullptr;
    for (const BarRun& run : grid.runs)
        if (run.consistent && (longest == nullptr || run.count > longest->count)) longest = &run;
    int32_t bars = 0;
    if (longest != nullptr) {
        state.phase = truncToInt32(grid.points[longest->first].timeMs);
        bars = longest->count;
    }
    const double barMs = state.beatsPerBar * 60000.0 / state.tempo;
    state.phase = truncToInt32(loudestFrame(frames, state.phase, bars * barMs));
    state.phase = foldPhase(state.phase, s, barMs);
}

void EstimateBeatFromEvents(BeatState& state, const std::vector<LevelEvent>& events,
                            const RMSObj& frames) {
    state.beatsPerBar = 4;
    const double q = state.beatsPerBar * 60000.0;
    const double longest = q / state.lowestTempo;

    struct Cluster {
        double sum;
        int32_t count;
        double mean;
    };
    constexpr size_t kMaxClusters = 128;
    std::vector<Cluster> clusters;
    clusters.reserve(kMaxClusters);
    double p = 0.0;
    for (const LevelEvent& e : events) {
        const double d = e.timeMs - p;
        if (p != 0.0 && d <= longest) {
            bool fitted = false;
            for (Cluster& c : clusters) {
                if (0.98 * c.mean < d && d < 1.02 * c.mean) {
                    c.sum += d;
                    ++c.count;
                    c.mean = c.sum / c.count;
                    fitted = true;
                }
            }
            if (!fitted) {
                clusters.push_back({d, 1, d});
                if (clusters.size() >= kMaxClusters) break;
            }
        }
        p = e.timeMs;
    }
    if (clusters.empty()) return;

    // Phase: the strongest of the first events, counting the level around it.
    size_t strongest = 0;
    double bestWeight = 0.0;
    for (size_t i = 0; i < events.size() && i < 32; ++i) {
        double level = 0.0;
        loudestFrame(frames, events[i].timeMs - 60.0, 120.0, &level);
        const double weight = events[i].strength + level;
        if (i == 0 || weight > bestWeight) {
            bestWeight = weight;
            strongest = i;
        }
    }
    int32_t phase = truncToInt32(events[strongest].timeMs);
    int32_t shape = -1;
    const double peak = loudestFrame(frames, phase - 60.0, 120.0, nullptr, &shape);
    if (shape == 1) phase = truncToInt32(peak);

    // Bar period: the most frequent interval, or the longer of it and the
    // interval it overtook when the two are about an octave apart.
    size_t best = 0;
    size_t runnerUp = 0;
    for (size_t i = 1; i < clusters.size(); ++i) {
        if (clusters[i].count > clusters[best].count) {
            runnerUp = best;
            best = i;
        }
    }
    double tempo = q / clusters[best].mean;
    if (clusters.size() > 1) {
        const double a = clusters[best].mean;
        const double b = clusters[runnerUp].mean;
        const double larger = a > b ? a : b;
        const double ratio = larger / (a > b ? b : a);
        if (truncToInt32(ratio + 0.5) == 2) tempo = q / larger;
    }
    if (tempo > 0.0 && std::isfinite(tempo)) {
        while (tempo < state.lowestTempo) tempo *= 2.0;
        while (tempo > state.highestTempo) tempo /= 2.0;
    }
    state.tempo = tempo;
    state.phase = foldPhase(phase, frames.FirstSoundingTime(), q / tempo);
}
