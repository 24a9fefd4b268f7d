#pragma once
#include <array>
#include <cstdint>

// One bar of rhythm: 32 sixteenth-note steps by 4 voices, each cell holding
// 4 values (value 0 the onset strength in [0, 1]). The tempo analyser fills
// voice 0 from the bass band and voice 1 from the snare band; the style
// classification reads value 0 of those two voices.
class RhythmPattern {
public:
    static constexpr int32_t kMaxSteps = 32;
    static constexpr int32_t kVoices = 4;
    static constexpr int32_t kValues = 4;

    RhythmPattern(int32_t beats, double barMs, double startMs, int32_t barNumber,
                  double contrast = 1.0);

    int32_t Beats() const { return beats_; }
    // Steps in use: 4 per beat.
    int32_t StepCount() const { return 4 * beats_; }
    double BarMs() const { return barMs_; }
    double StartMs() const { return startMs_; }
    int32_t BarNumber() const { return barNumber_; }

    // Value 0 = clamp((x - 0.5) x contrast + 0.5, 0, 1), value 1 = y.
    void SetStep(int32_t step, int32_t voice, double x, double y);
    // Value k of a cell; 0.0 for a step >= 32 or a voice >= 4.
    double Value(int32_t step, int32_t voice, int32_t k = 0) const;
    // Whether any value of any cell is above 0.
    bool HasOnset() const;

    // Cyclic shift by one step over the first StepCount() steps of voice 0
    // (voices = 0), voice 1 (voices = 1) or both (voices = 4). Direction 0
    // advances (step i takes step i + 1), direction 1 delays.
    void Rotate(int32_t voices, int32_t direction);

    double weight = 1.0;  // for grouping similar bars

private:
    void rotateVoice(int32_t voice, int32_t direction);

    int32_t beats_;
    double barMs_;
    double startMs_;
    int32_t barNumber_;
    double contrast_;
    std::array<std::array<std::array<double, kValues>, kVoices>, kMaxSteps> grid_{};
};
