#include "analysis/RhythmPattern.h"

#include <algorithm>

RhythmPattern::RhythmPattern(int32_t beats, double barMs, double startMs, int32_t barNumber,
                             double contrast)
    : beats_(std::clamp(beats, 0, kMaxSteps / 4)),
      barMs_(barMs),
      startMs_(startMs),
      barNumber_(barNumber),
      contrast_(contrast) {}

void RhythmPattern::SetStep(int32_t step, int32_t voice, double x, double y) {
    if (step < 0 || step >= kMaxSteps || voice < 0 || voice >= kVoices) return;
    grid_[step][voice][0] = std::clamp((x - 0.5) * contrast_ + 0.5, 0.0, 1.0);
    grid_[step][voice][1] = y;
}

double RhythmPattern::Value(int32_t step, int32_t voice, int32_t k) const {
    if (step < 0 || step >= kMaxSteps || voice < 0 || voice >= kVoices || k < 0 || k >= kValues)
        return 0.0;
    return grid_[step][voice][k];
}

bool RhythmPattern::HasOnset() const {
    for (const auto& step : grid_)
        for (const auto& cell : step)
            for (double v : cell)
                if (v > 0.0) return true;
    return false;
}

void RhythmPattern::Rotate(int32_t voices, int32_t direction) {
    if (voices == 0 || voices == 4) rotateVoice(0, direction);
    if (voices == 1 || voices == 4) rotateVoice(1, direction);
}

void RhythmPattern::rotateVoice(int32_t voice, int32_t direction) {
    const int32_t n = StepCount();
    if (n < 2) return;
    std::array<std::array<double, kValues>, kMaxSteps> column;
    for (int32_t i = 0; i < n; ++i) column[i] = grid_[i][voice];
    for (int32_t i = 0; i < n; ++i)
        grid_[i][voice] = column[direction == 0 ? (i + 1) % n : (i + n - 1) % n];
}
