#include "audio/mp3/SynthesisFilter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio/mp3/MP3Tables.h"
#include "audio/mp3/Obuffer.h"
#include "dsp/MathConstants.h"
#include "dsp/WideClones.h"

namespace mp3 {

namespace {

// 1 / (2 cos((2k+1) pi / 2N)) for the butterflies of a size-N stage.
struct DctCoefficients {
    float c32[16], c16[8], c8[4], c4[2], c2[1];
    DctCoefficients() {
        fill(c32, 32);
        fill(c16, 16);
        fill(c8, 8);
        fill(c4, 4);
        fill(c2, 2);
    }
    static void fill(float* c, int n) {
        for (int k = 0; k < n / 2; ++k) c[k] = float(0.5 / std::cos((2 * k + 1) * kPi / (2 * n)));
    }
};
const DctCoefficients kDct;

template <int N> const float* coefficients();
template <> const float* coefficients<32>() { return kDct.c32; }
template <> const float* coefficients<16>() { return kDct.c16; }
template <> const float* coefficients<8>() { return kDct.c8; }
template <> const float* coefficients<4>() { return kDct.c4; }
template <> const float* coefficients<2>() { return kDct.c2; }

// out[i] = sum_k in[k] cos((2k+1) i pi / 2N): the fast DCT-II of B. G. Lee,
// "A new algorithm to compute the discrete cosine transform", IEEE Trans.
// ASSP 32(6), 1984. Even outputs are the half-size DCT of the folded sums,
// odd outputs sums of neighbours of the half-size DCT of the scaled differences.
// T is float, or a vector type whose lanes are independent transforms that
// each take the same steps as the scalar one.
template <int N, typename T> struct Dct {
    [[gnu::always_inline]] static inline void run(const T* in, T* out) {
        constexpr int H = N / 2;
        const float* c = coefficients<N>();
        T a[H], b[H], ea[H], eb[H];
        for (int k = 0; k < H; ++k) {
            a[k] = in[k] + in[N - 1 - k];
            b[k] = (in[k] - in[N - 1 - k]) * c[k];
        }
        Dct<H, T>::run(a, ea);
        Dct<H, T>::run(b, eb);
        for (int i = 0; i < H - 1; ++i) {
            out[2 * i] = ea[i];
            out[2 * i + 1] = eb[i] + eb[i + 1];
        }
        out[N - 2] = ea[H - 1];
        out[N - 1] = eb[H - 1];
    }
};
template <typename T> struct Dct<1, T> {
    [[gnu::always_inline]] static inline void run(const T* in, T* out) { out[0] = in[0]; }
};

// The window D scaled by 32768 (D = k / 65536, so 32768 D = k / 2): the
// scaled values are exact and folding the output scale in changes nothing.
struct ScaledWindow {
    alignas(32) float d[512];
    ScaledWindow() {
        for (int i = 0; i < 512; ++i) d[i] = float(kSynthesisWindowQ16[i] / 2.0);
    }
};
const ScaledWindow kWindow;

// acc[j] += d[j] h[j] in groups of eight lanes; each lane sums in the same
// order as a scalar loop, so the grouping changes no result.

inline void accumulate(Float8* acc, const float* d, const float* h) {
    for (int g = 0; g < 4; ++g) {
        Float8 dv, hv;
        std::memcpy(&dv, d + 8 * g, sizeof dv);
        std::memcpy(&hv, h + 8 * g, sizeof hv);
        acc[g] += dv * hv;
    }
}

}  // namespace

SynthesisFilter::SynthesisFilter(int channel) : channel_(channel) {}

bool SynthesisFilter::sameHistory(const SynthesisFilter& other) const {
    for (int i = 0; i < 16; ++i)
        if (std::memcmp(v_[(newest_ + i) & (kRing - 1)], other.v_[(other.newest_ + i) & (kRing - 1)], sizeof v_[0]) != 0)
            return false;
    return true;
}

void SynthesisFilter::inputSamples(const float* samples) { std::memcpy(samples_, samples, sizeof samples_); }

// Matrixing V[i] = sum_k cos((16 + i)(2k + 1) pi / 64) S[k] expressed
// through the DCT X (read as x[k * step]): V[0..15] = X[16..31], V[16] = 0,
// V[17..47] = -X[31..1], V[48..63] = -X[0..15]. The new vector becomes the
// newest of the ring.
[[gnu::always_inline]] inline void SynthesisFilter::pushVector(const float* x, int step) {
    newest_ = (newest_ + kRing - 1) & (kRing - 1);
    float* v = v_[newest_];
    for (int j = 0; j < 16; ++j) v[j] = x[(j + 16) * step];
    v[16] = 0.0f;
    for (int j = 17; j < 48; ++j) v[j] = -x[(48 - j) * step];
    for (int j = 48; j < 64; ++j) v[j] = -x[(j - 48) * step];
}

// The 32 output samples of the pass whose vector is `age` pushes old:
// S[j] = sum_i D[32i + j] U[32i + j], where U's row i is the first half of
// the vector of age i for even i and the second half for odd i.
[[gnu::always_inline]] inline void SynthesisFilter::windowPass(int age, int16_t* pcm) const {
    const int newest = (newest_ + age) & (kRing - 1);
    Float8 sums[4] = {};
    for (int i = 0; i < 16; ++i)
        accumulate(sums, kWindow.d + 32 * i, v_[(newest + i) & (kRing - 1)] + ((i & 1) ? 32 : 0));
    alignas(32) float acc[32];
    std::memcpy(acc, sums, sizeof acc);
    // The sums are finite (bounded inputs), so clamping first makes the
    // truncating conversion well defined.
    for (int j = 0; j < 32; ++j) {
        const float y = std::min(std::max(acc[j], -32768.0f), 32767.0f);
        pcm[j] = int16_t(int32_t(y));
    }
}

VEX_WIDE_CLONES void SynthesisFilter::samples(int16_t* pcm) {
    float x[32];
    Dct<32, float>::run(samples_, x);
    pushVector(x, 1);
    windowPass(0, pcm);
}

// Eight passes' DCTs at once, one per lane. All eight vectors go into the
// ring before any is windowed, so no pass reads a vector just written.
VEX_WIDE_CLONES void SynthesisFilter::passes(const float* lines, int stride, int count, Obuffer& out) {
    for (int p0 = 0; p0 < count; p0 += 8) {
        Float8 in[32], dct[32];
        for (int k = 0; k < 32; ++k) std::memcpy(&in[k], lines + k * stride + p0, sizeof in[k]);
        Dct<32, Float8>::run(in, dct);
        alignas(32) float lanes[32][8];
        std::memcpy(lanes, dct, sizeof lanes);
        const int n = std::min(8, count - p0);
        for (int p = 0; p < n; ++p) pushVector(&lanes[0][p], 8);
        for (int p = 0; p < n; ++p) {
            int16_t pcm[32];
            windowPass(n - 1 - p, pcm);
            out.appendSamples(channel_, pcm, 32);
        }
    }
}

void SynthesisFilter::calculatePcmSamples(int16_t* pcm) { samples(pcm); }

void SynthesisFilter::calculatePcmPasses(const float* lines, int stride, int count, Obuffer& out) {
    passes(lines, stride, count, out);
}

void SynthesisFilter::calculatePcmSamples(Obuffer& out) {
    int16_t pcm[32];
    calculatePcmSamples(pcm);
    out.appendSamples(channel_, pcm, 32);
}

}  // namespace mp3
