#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

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

class Collect : public Obuffer {
public:
    void append(int channel, int16_t sample) override { samples[channel].push_back(sample); }
    void copyOut(int16_t*) override {}
    int64_t count() const override { return int64_t(samples[0].size() + samples[1].size()); }
    std::vector<int16_t> samples[2];
};

}  // namespace

TEST(SynthesisFilter, MatchesTheDirectMatrixing) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> dist(-0.2f, 0.2f);
    SynthesisFilter fast(1);
    DirectSynthesis direct;
    Collect out;
    double worst = 0.0;
    for (int pass = 0; pass < 200; ++pass) {
        float s[32];
        for (float& x : s) x = dist(rng);
        for (unsigned sb = 0; sb < 32; ++sb) fast.input_sample(s[sb], sb);
        fast.calculate_pcm_samples(out);
        const std::vector<double> ref = direct.run(s);
        for (int j = 0; j < 32; ++j) {
            const double expected = std::trunc(std::max(-32768.0, std::min(32767.0, ref[j] * 32768.0)));
            const double got = out.samples[1][size_t(pass * 32 + j)];
            worst = std::max(worst, std::abs(got - expected));
        }
    }
    EXPECT_TRUE(out.samples[0].empty());  // the filter writes its own channel only
    EXPECT_LE(worst, 1.0);
}

TEST(SynthesisFilter, ClampsAndTruncatesTowardZero) {
    // A DC input in subband 0 settles to a constant output; scaled up it
    // must clamp at both ends, and a small one truncates toward zero.
    struct Case {
        float level;
        int low, high;
    };
    for (const Case& c : {Case{4.0f, 32767, 32767}, Case{-4.0f, -32768, -32768}}) {
        SynthesisFilter f;
        int16_t pcm[32] = {};
        for (int pass = 0; pass < 40; ++pass) {
            f.input_sample(c.level, 0);
            f.calculate_pcm_samples(pcm);
        }
        for (int16_t v : pcm) {
            EXPECT_GE(v, c.low);
            EXPECT_LE(v, c.high);
        }
    }
    SynthesisFilter f;
    int16_t pcm[32];
    float s[32] = {};
    s[0] = -0.00002f;  // outputs between -1 and 0 LSB
    for (int pass = 0; pass < 40; ++pass) {
        f.input_samples(s);
        f.calculate_pcm_samples(pcm);
    }
    for (int16_t v : pcm) EXPECT_EQ(v, 0);
}

TEST(SynthesisFilter, ResetForgetsEarlierInput) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> dist(-0.5f, 0.5f);
    SynthesisFilter used, fresh;
    float s[32];
    int16_t a[32], b[32];
    for (int pass = 0; pass < 20; ++pass) {
        for (float& x : s) x = dist(rng);
        used.input_samples(s);
        used.calculate_pcm_samples(a);
    }
    used.reset();
    for (int pass = 0; pass < 20; ++pass) {
        for (float& x : s) x = dist(rng);
        used.input_samples(s);
        fresh.input_samples(s);
        used.calculate_pcm_samples(a);
        fresh.calculate_pcm_samples(b);
        for (int j = 0; j < 32; ++j) ASSERT_EQ(a[j], b[j]);
    }
}
