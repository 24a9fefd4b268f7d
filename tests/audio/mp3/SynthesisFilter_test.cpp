#include <gtest/gtest.h>

#include <random>

#include "audio/mp3/MP3Tables.h"
#include "audio/mp3/Obuffer.h"
#include "audio/mp3/SynthesisFilter.h"

using namespace mp3;

namespace {

// The synthesis of ISO/IEC 11172-3 Annex A as written: a 1024-value FIFO V,
// V[i] = sum_k cos((16 + i)(2k + 1) pi / 64) S[k], U from V, W = U x D, and
// the 16-term sums; in double precision, not truncated.
class DirectSynthesis {
public:
    std::vector<double> run(const float* s) {
        for (int i = 1023; i >= 64; --i) v_[i] = v_[i - 64];
        for (int i = 0; i < 64; ++i) {
            double sum = 0.0;
            for (int k = 0; k < 32; ++k) sum += std::cos((16 + i) * (2 * k + 1) * M_PI / 64) * s[k];
            v_[i] = sum;
        }
        double u[512];
        for (int i = 0; i < 8; ++i)
            for (int j = 0; j < 32; ++j) {
                u[i * 64 + j] = v_[i * 128 + j];
                u[i * 64 + 32 + j] = v_[i * 128 + 96 + j];
            }
        std::vector<double> out(32, 0.0);
        for (int j = 0; j < 32; ++j)
            for (int i = 0; i < 16; ++i) out[j] += u[j + 32 * i] * kSynthesisWindowQ16[j + 32 * i] / 65536.0;
        return out;
    }

private:
    double v_[1024] = {};
};

}  // namespace

TEST(SynthesisFilter, MatchesTheDirectMatrixing) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> dist(-0.2f, 0.2f);
    SynthesisFilter fast;
    DirectSynthesis direct;
    double worst = 0.0;
    for (int pass = 0; pass < 200; ++pass) {
        float s[32];
        for (float& x : s) x = dist(rng);
        fast.inputSamples(s);
        int16_t pcm[32];
        fast.calculatePcmSamples(pcm);
        const std::vector<double> ref = direct.run(s);
        for (int j = 0; j < 32; ++j) {
            const double expected = std::trunc(std::max(-32768.0, std::min(32767.0, ref[j] * 32768.0)));
            worst = std::max(worst, std::abs(pcm[j] - expected));
        }
    }
    EXPECT_LE(worst, 1.0);
}

// DC in subband 0 settles to a constant: clamped at both ends, small ones truncated toward zero.
TEST(SynthesisFilter, ClampsAndTruncatesTowardZero) {
    for (const auto& [level, expected] : {std::pair{4.0f, 32767}, std::pair{-4.0f, -32768}, std::pair{-0.00002f, 0}}) {
        SCOPED_TRACE(level);
        SynthesisFilter f;
        int16_t pcm[32];
        for (int pass = 0; pass < 40; ++pass) {
            f.inputSample(level, 0);
            f.calculatePcmSamples(pcm);
        }
        for (int16_t v : pcm) EXPECT_EQ(v, expected);
    }
}

// Passes taken eight at a time (18 per call, as a granule gives) must equal
// the same passes one at a time, across calls and across the vector ring.
TEST(SynthesisFilter, BatchedPassesEqualSinglePasses) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> dist(-0.3f, 0.3f);
    SynthesisFilter single, batched;
    alignas(32) float lines[32][24] = {};
    std::vector<int16_t> expected, got(5 * 18 * 32);
    ArrayObuffer out(got.data(), int64_t(got.size()), 1);
    for (int call = 0; call < 5; ++call) {
        for (int p = 0; p < 18; ++p) {
            float s[32];
            for (int sb = 0; sb < 32; ++sb) s[sb] = lines[sb][p] = dist(rng);
            single.inputSamples(s);
            int16_t pcm[32];
            single.calculatePcmSamples(pcm);
            expected.insert(expected.end(), pcm, pcm + 32);
        }
        batched.calculatePcmPasses(&lines[0][0], 24, 18, out);
    }
    EXPECT_EQ(got, expected);
    EXPECT_TRUE(batched.sameHistory(single));
}
