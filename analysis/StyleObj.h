#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class RhythmPattern;

inline constexpr const char* kNoDetection = "NoDetection";

// Step 3: the two drum styles that most of the song's bars follow, each
// with its share of the bars. Start values until a classification ran for
// this song (also when the tempo search found no beat).
struct StyleScores {
    double best = 0.0;
    double second = 0.0;
    std::string bestFamily = kNoDetection;
    std::string bestPattern = kNoDetection;
    int32_t bestId = 0;
    std::string secondFamily = kNoDetection;
    std::string secondPattern = kNoDetection;
    int32_t secondId = 0;
};

// One named drum pattern over 32 steps x 4 voices: 0 no hit, 1 required hit,
// 2 either.
struct RhythmStyle {
    explicit RhythmStyle(int32_t styleId) : id(styleId) {}

    std::array<std::array<uint32_t, 4>, 32> grid{};
    std::string family;
    std::string pattern;
    std::array<int32_t, 2> tolerance{};  // mismatched steps accepted in voices 0 and 1
    int32_t id;
    std::string alias = "NoAlias";
};

// Classifies one-bar rhythm patterns against a fixed table of 31 drum
// styles. A style scores the share of bars that equal it up to a rotation of
// the bar and a one-step shift of the snare voice.
class StyleObj {
public:
    static constexpr int32_t kMaxStyles = 50;  // capacity of the match histogram

    StyleObj();

    // Builds the table once; later calls return at once.
    void Init();
    // Fills the eight result fields from the song's bars, in bar order. The
    // patterns are read, never changed. Throws QuorbixError before Init.
    void DetermineFromRhythm(std::vector<RhythmPattern>& patterns);

    int32_t Count() const { return count_; }
    // The eight result fields.
    const StyleScores& Result() const { return result_; }

private:
    std::vector<std::unique_ptr<RhythmStyle>> styles_;
    int32_t count_ = 0;
    bool initialised_ = false;
    StyleScores result_;
};

// The process-wide classifier; its table is built on first use.
extern StyleObj gStyleObj;

// Step 3 on the song's bars: the process-wide classifier's result for them,
// or the start values when the bars are disabled (null).
StyleScores ClassifyStyle(std::vector<RhythmPattern>* patterns);
