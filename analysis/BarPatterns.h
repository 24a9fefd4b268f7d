#pragma once
#include <cstdint>
#include <vector>

#include "analysis/RhythmPattern.h"

class FFTObj;
class RMSObj;
class SignalObj;

// The song's bars as onset patterns, in bar order, and how well they repeat.
// Each bar is kept as an onset mask (bit 32 v + k: step k of voice v, voices
// 0 and 1); the list that the style step reads also keeps a RhythmPattern per
// bar, the search's working list only the masks it scores.
class BarPatterns {
public:
    explicit BarPatterns(bool keepPatterns = true);

    // Removes every bar; the storage is kept for the next fill.
    void Reset();
    void Add(uint64_t onsets, int32_t beats, double barMs, double startMs, int32_t barNumber);
    // Bars added since the last reset.
    int32_t Count() const { return static_cast<int32_t>(onsets_.size()); }
    const std::vector<uint64_t>& Onsets() const { return onsets_; }
    // Empty for a list that keeps masks only.
    std::vector<RhythmPattern>& Patterns() { return patterns_; }
    const std::vector<RhythmPattern>& Patterns() const { return patterns_; }

    // Bars that share a pattern form groups (a bar joins the first group
    // whose first member differs from it in fewer than `scoreParameter`
    // cells; empty bars join none); few heavy groups score high. The score
    // of P equal bars is (0.8 P^2 + 2000) P^2; 0.0 without groups.
    double Score(double scoreParameter) const;

    // A song without a usable beat gets no patterns; the style step then
    // leaves its scores at 0.
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool on) { enabled_ = on; }

    static constexpr uint64_t Onset(int32_t step, int32_t voice) {
        return uint64_t{1} << (32 * voice + step);
    }

private:
    bool keepPatterns_;
    bool enabled_ = true;
    std::vector<uint64_t> onsets_;
    std::vector<RhythmPattern> patterns_;
    // Scratch of Score(), kept so that scoring allocates nothing.
    mutable std::vector<uint64_t> groupFirst_;
    mutable std::vector<double> groupWeight_;
};

// Settings of the fill that the tempo search tunes.
struct FillParameters {
    double mode0Factor = 1.05;        // voice-0 level test: factor x smoothed level
    double mode1LevelFactor = 6.0;    // mid-band level events
    double mode1MinimumRise = 7000.0;
    double mode5Threshold = 0.09;     // onset density threshold
    double mode6Density = 0.8;        // accent density threshold
    double mode6Level = 0.007;        // accent bin level
    bool lowBandAccentMode = false;   // mode 4: voice 0 from accents, not the level test
    bool midBandOnsetMode = false;    // mode 4: voice 1 from onsets, not level events
};

// Onsets placed by the last fill that set them, with their mean level as a
// fraction of full scale: 1 for the mid band (voice 1), 2 for the low band.
struct OnsetCounts {
    int32_t count1 = 0;
    double measure1 = 0.0;
    int32_t count2 = 0;
    double measure2 = 0.0;
};

// Fill modes: which detector sets which voice.
enum FillMode : int32_t {
    kFillLevelTest = 0,    // voice 0: low-band level peaks
    kFillLevelEvents = 1,  // voice 1: mid-band level events
    kFillBoth = 4,         // both voices, detectors chosen by the parameters
    kFillOnsets = 5,       // voice 1: bursts of high-band density
    kFillAccents = 6,      // voice 0: bursts of bass-band density
};

// Turns a tempo and a bar phase into one onset pattern per bar. The events
// of modes 1, 5 and 6 depend only on their parameters, so the last list of
// each kind is kept and reused while the parameters stay the same.
class BarFiller {
public:
    // `low` and `mid`: the 60 ms and 120 ms level frames of the two bands.
    BarFiller(const SignalObj& song, const RMSObj& low, RMSObj& mid);

    // The 2048-sample spectra (accents) and 512-sample spectra (onsets);
    // either may be null until a mode needs it.
    void SetSpectra(const FFTObj* wide, const FFTObj* fine);

    // Adds one pattern per bar from `phase` while the bar starts within the
    // song; nothing for a tempo of 0. Sets count 2 in modes 0, 4 and 6 and
    // count 1 in modes 1, 4 and 5.
    void Fill(BarPatterns& list, int32_t mode, double tempo, int32_t phase, int32_t beatsPerBar,
              const FillParameters& p, OnsetCounts& counts);

private:
    const std::vector<double>& accentEvents(double density, double level);
    const std::vector<double>& onsetEvents(double threshold);
    const std::vector<double>& levelEvents(double factor, double minimumRise);

    const SignalObj& song_;
    const RMSObj& low_;
    RMSObj& mid_;
    const FFTObj* wide_ = nullptr;
    const FFTObj* fine_ = nullptr;

    struct Cache {
        bool valid = false;
        double a = 0.0, b = 0.0;
        std::vector<double> times;
    };
    Cache accents_, onsets_, levels_;
};
