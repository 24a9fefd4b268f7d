#include "analysis/StyleObj.h"

#include <bitset>

#include "analysis/RhythmPattern.h"
#include "dsp/QuorbixError.h"

StyleObj gStyleObj;

namespace {

constexpr int32_t kReservedStyles = 40;
constexpr int32_t kTotals = 5;  // mismatch totals a style's tolerances can accept: 0 .. 4

// Steps 0-15 of voices 0 (bass drum) and 1 (snare), one character per step.
struct StyleRow {
    const char* family;
    const char* pattern;
    const char* alias;  // null: none
    const char* voice0;
    const char* voice1;
};

constexpr StyleRow kStyleTable[] = {
    {"General", "FourFloor", nullptr, "1000 1000 1000 1000", "2222 2222 2222 2222"},
    {"General", "TwoTwo", nullptr, "1000 0000 1000 0000", "0000 1000 0000 1000"},
    {"Rock", "Standard1", nullptr, "1000 0010 1000 0020", "0000 1000 0000 1000"},
    {"Rock", "Standard2", nullptr, "1000 0000 1010 0020", "0000 1000 0000 1000"},
    {"Rock", "Metal1", nullptr, "1000 0010 0012 0010", "0000 1000 0000 1000"},
    {"Rock", "Metal2", nullptr, "1000 0010 1010 0010", "0000 1000 0000 1000"},
    {"Rock", "Funk1", nullptr, "1000 0001 1010 0020", "0000 1000 0000 1000"},
    {"Rock", "Stadium1", "Fusion2b", "1001 0010 0000 0020", "0000 1000 0000 1000"},
    {"Rock", "Stadium2", nullptr, "1001 0010 0110 0010", "0000 1000 0000 1000"},
    {"Rock", "Stadium2b", nullptr, "1001 0010 0110 0001", "0000 1000 0000 1000"},
    {"Rock", "PowerPop", nullptr, "1010 0001 0110 0010", "0000 1000 0000 1000"},
    {"Rock", "PowerPop2", nullptr, "1000 0001 0110 0020", "0000 1000 0000 1000"},
    {"Rock", "Motown", nullptr, "1010 0001 0101 0000", "0000 1000 0000 1000"},
    {"Rock", "Heavy", nullptr, "1010 0010 1010 0010", "0000 1000 0000 1000"},
    {"Rock", "60sPop", nullptr, "1000 0000 1000 0000", "0000 1000 0000 1010"},
    {"Rock", "Twist", nullptr, "1000 0000 0000 0000", "0000 1010 0000 1000"},
    {"Rock", "Shuffle", "Funk1C", "1000 0001 1000 0002", "0000 1000 0000 1000"},
    {"Rock", "Blues", nullptr, "1001 1001 1001 1001", "0000 1000 0000 1000"},
    {"Rock", "FunkSwing", nullptr, "1001 0000 1001 0101", "0000 1000 0000 1000"},
    {"Rock", "Fusion1", nullptr, "1000 0001 0100 0001", "0000 1000 0000 1000"},
    {"Rock", "Fusion2", nullptr, "1001 0010 0010 0000", "0000 1000 0000 1000"},
    {"Rock", "PowerShuffle", nullptr, "1001 0000 1001 0000", "0000 1000 0000 1000"},
    {"Country", "Train", nullptr, "1001 1000 1001 1000", "0000 0010 0000 0010"},
    {"Country", "Shuffle", nullptr, "1000 0001 0001 0000", "0000 1000 0000 1000"},
    {"Dance", "70s", nullptr, "1000 1000 1000 1000", "0000 1000 0100 1000"},
    {"Jazz", "Ballad", nullptr, "1000 0010 0000 0000", "0000 1000 0000 1020"},
    {"Jazz", "Syncopate", nullptr, "1000 0001 0000 0000", "0000 1000 0000 0100"},
    {"Jazz", "OldSwing", nullptr, "1000 0000 0000 0001", "0000 1000 0000 1000"},
    {"Latin", "Bossa", nullptr, "1000 0010 1000 0010", "0000 1000 0010 0000"},
    {"RB", "Houserap", nullptr, "1000 0010 0010 0100", "0000 1002 0100 1000"},
    {"RB", "Shuffle", nullptr, "1000 0001 0000 0001", "0000 0000 1001 0000"},
};

void setVoice(RhythmStyle& style, int32_t voice, const char* steps) {
    int32_t step = 0;
    for (const char* c = steps; *c != '\0'; ++c)
        if (*c != ' ') style.grid[step++][voice] = static_cast<uint32_t>(*c - '0');
}

// Steps 0 .. n-1 of a voice as bit masks: bit i set when step i holds an
// onset (value above 0.0), respectively holds exactly 0.0.
struct VoiceMasks {
    uint32_t onset = 0;
    uint32_t silent = 0;
};

VoiceMasks masksOf(const RhythmPattern& p, int32_t voice, int32_t n) {
    VoiceMasks m;
    for (int32_t i = 0; i < n; ++i) {
        const double v = p.Value(i, voice);
        if (v > 0.0) m.onset |= 1u << i;
        if (v == 0.0) m.silent |= 1u << i;
    }
    return m;
}

// Delays the first n steps by r (0 <= r < n): step i takes step i - r.
uint32_t delayed(uint32_t x, int32_t r, int32_t n) {
    if (r == 0) return x;
    const uint32_t all = n == 32 ? ~0u : (1u << n) - 1;
    return ((x << r) | (x >> (n - r))) & all;
}

int32_t popcount(uint32_t x) { return static_cast<int32_t>(std::bitset<32>(x).count()); }

// A style's steps 0 .. n-1 of one voice: where a hit is required, where none
// is allowed.
struct StyleMasks {
    uint32_t required = 0;
    uint32_t forbidden = 0;
};

StyleMasks masksOf(const RhythmStyle& s, int32_t voice, int32_t n) {
    StyleMasks m;
    for (int32_t i = 0; i < n; ++i) {
        if (s.grid[i][voice] == 1) m.required |= 1u << i;
        if (s.grid[i][voice] == 0) m.forbidden |= 1u << i;
    }
    return m;
}

int32_t mismatches(const VoiceMasks& bar, const StyleMasks& style) {
    return popcount(bar.onset & style.forbidden) + popcount(bar.silent & style.required);
}

}  // namespace

StyleObj::StyleObj() = default;

void StyleObj::Init() {
    if (initialised_) return;
    count_ = kReservedStyles;
    if (count_ > kMaxStyles) throw QuorbixError("Programming error: increase MaxStyles constant");
    styles_.clear();
    styles_.resize(kReservedStyles);
    int32_t created = 0;
    for (const StyleRow& row : kStyleTable) {
        auto style = std::make_unique<RhythmStyle>(created + 1);
        style->family = row.family;
        style->pattern = row.pattern;
        if (row.alias != nullptr) style->alias = row.alias;
        setVoice(*style, 0, row.voice0);
        setVoice(*style, 1, row.voice1);
        styles_[created++] = std::move(style);
    }
    count_ = created;
    initialised_ = true;
}

// Each bar is tried against each style in every rotation r of both voices,
// with voice 1 as it stands, one step early and one step late (in that
// order); the trial with the fewest mismatches (the first on a tie) decides
// whether the bar counts for the style. The rotations act on bit masks of the
// bar instead of the bar itself.
void StyleObj::DetermineFromRhythm(std::vector<RhythmPattern>& patterns) {
    if (!initialised_) throw QuorbixError("Programming error: call StyleObj:Init() first");
    std::array<std::array<int32_t, kTotals>, kMaxStyles> hist{};

    for (const RhythmPattern& bar : patterns) {
        const int32_t n = bar.StepCount();
        const VoiceMasks v0 = masksOf(bar, 0, n);
        const VoiceMasks v1 = masksOf(bar, 1, n);
        for (int32_t s = 0; s < count_; ++s) {
            const RhythmStyle& style = *styles_[s];
            const StyleMasks s0 = masksOf(style, 0, n);
            const StyleMasks s1 = masksOf(style, 1, n);
            int32_t bestTotal = 128, best0 = -1, best1 = -1;
            for (int32_t r = 0; r < n && bestTotal > 0; ++r) {
                const int32_t m0 = mismatches({delayed(v0.onset, r, n), delayed(v0.silent, r, n)}, s0);
                for (int32_t shift : {r, (r + n - 1) % n, (r + 1) % n}) {
                    const int32_t m1 = mismatches({delayed(v1.onset, shift, n), delayed(v1.silent, shift, n)}, s1);
                    if (m0 + m1 < bestTotal) {
                        bestTotal = m0 + m1;
                        best0 = m0;
                        best1 = m1;
                    }
                }
            }
            const int32_t t0 = style.tolerance[0], t1 = style.tolerance[1];
            if (t0 + t1 > kTotals - 1) throw QuorbixError("Programming error: StyleObj::DetermineFromRhythm");
            if (best0 >= 0 && best0 <= t0 && best1 <= t1) ++hist[s][bestTotal];
        }
    }

    const double bars = static_cast<double>(patterns.size());
    int32_t best = -1, second = -1;
    double bestScore = 0.0, secondScore = 0.0;
    for (int32_t s = 0; s < count_; ++s) {
        double score = 0.0;
        for (int32_t k = 0; k < kTotals; ++k) score += hist[s][k] / (k + 1.0);
        if (score > bestScore) {
            second = best;
            secondScore = bestScore;
            best = s;
            bestScore = score;
        }
        if (score > secondScore && s != best) {
            second = s;
            secondScore = score;
        }
    }

    StyleScores& r = result_;
    if (second < 0) {
        r.secondFamily = r.secondPattern = kNoDetection;
        r.secondId = 0;
        r.second = 0.0;
    }
    if (best < 0) {
        r.bestFamily = r.bestPattern = kNoDetection;
        r.bestId = 0;
        r.best = 0.0;
        return;
    }
    r.bestFamily = styles_[best]->family;
    r.bestPattern = styles_[best]->pattern;
    r.bestId = styles_[best]->id;
    r.best = bestScore / bars;
    if (second >= 0) {
        r.secondFamily = styles_[second]->family;
        r.secondPattern = styles_[second]->pattern;
        r.secondId = styles_[second]->id;
        r.second = secondScore / bars;
    }
}

StyleScores ClassifyStyle(std::vector<RhythmPattern>* patterns) {
    if (patterns == nullptr) return StyleScores{};
    gStyleObj.Init();
    gStyleObj.DetermineFromRhythm(*patterns);
    return gStyleObj.Result();
}
