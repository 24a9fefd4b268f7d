#include "analysis/BeatEstimates.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "analysis/RMSObj.h"
#include "dsp/SignalObj.h"
#include "support/Signals.h"

namespace {

constexpr int32_t kRate = 22050;

// Short 1 kHz clicks every 500 ms from 300 ms on, the first of every four
// (the downbeat) twice as loud.
std::vector<int16_t> clicks(double seconds) {
    std::vector<int16_t> x(static_cast<size_t>(seconds * kRate), 0);
    for (int32_t k = 0; 300 + 500 * k < seconds * 1000.0 - 100.0; ++k) {
        const double amplitude = k % 4 == 0 ? 16000.0 : 8000.0;
        const size_t at = static_cast<size_t>((300 + 500 * k) * kRate / 1000);
        for (int32_t i = 0; i < 66; ++i)
            x[at + i] = static_cast<int16_t>(amplitude * std::exp(-i / 20.0) *
                                             std::sin(2.0 * M_PI * 1000.0 * i / kRate));
    }
    return x;
}

std::vector<LevelEvent> eventsAt(const std::vector<double>& times) {
    std::vector<LevelEvent> events;
    for (double t : times) events.push_back({t, 10000.0});
    return events;
}

}  // namespace

TEST(BeatEstimates, CoarseEstimateFindsTempoAndDownbeat) {
    auto signal = test::signalOf(clicks(30.0), kRate);
    RMSObj frames;
    frames.SetSignal(signal.get());
    frames.ComputeFrames(30.0, RMSObj::kTriangular, 0.5);
    BeatState state;
    EstimateCoarseBeat(state, frames, signal->GetDurationMs());
    EXPECT_NEAR(state.tempo, 120.0, 0.3);
    // The phase is the start of the loudest frame, which holds the downbeat.
    const int32_t before = ((300 - state.phase) % 2000 + 2000) % 2000;
    EXPECT_LE(before, 30) << "phase " << state.phase;
    EXPECT_GT(state.gridScore, 0);
    EXPECT_EQ(state.missAllowance, 0);
}

TEST(BeatEstimates, EventIntervalsGiveTheBarPeriod) {
    auto signal = test::signalOf(clicks(30.0), kRate);
    RMSObj frames;
    frames.SetSignal(signal.get());
    frames.ComputeFrames(120.0, RMSObj::kRectangular, 0.5);

    // Events 500 ms apart: 480 bpm folds to 120.
    BeatState state;
    std::vector<double> times;
    for (int k = 0; k < 20; ++k) times.push_back(300.0 + 500.0 * k);
    EstimateBeatFromEvents(state, eventsAt(times), frames);
    EXPECT_DOUBLE_EQ(state.tempo, 120.0);

    // A 2000 ms cluster overtakes the 4000 ms one that led: about an octave
    // apart, so the longer interval is the bar (60, not 120).
    times = {300, 4300, 8300, 12300, 14300, 16300, 18300, 20300, 22300};
    EstimateBeatFromEvents(state, eventsAt(times), frames);
    EXPECT_DOUBLE_EQ(state.tempo, 60.0);
    // Three times apart, the most frequent interval stays the bar.
    times = {300, 6300, 12300, 18300, 20300, 22300, 24300, 26300};
    EstimateBeatFromEvents(state, eventsAt(times), frames);
    EXPECT_DOUBLE_EQ(state.tempo, 120.0);

    // Fewer than two events make no interval: nothing changes.
    state.tempo = 97.0;
    state.phase = 1234;
    EstimateBeatFromEvents(state, eventsAt({300.0}), frames);
    EstimateBeatFromEvents(state, {}, frames);
    EXPECT_EQ(state.tempo, 97.0);
    EXPECT_EQ(state.phase, 1234);
}
