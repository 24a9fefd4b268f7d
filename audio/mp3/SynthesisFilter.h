#pragma once
#include <cstdint>

#include "dsp/WideClones.h"

namespace mp3 {

class Obuffer;

// The 32-band polyphase synthesis filter of one output channel
// (ISO/IEC 11172-3 Annex A, Figure A.2), computed through a 32-point DCT.
class SynthesisFilter {
public:
    explicit SynthesisFilter(int channel = 0);

    // Stores the next sample of subband sb (0..31) for the coming pass.
    void inputSample(float sample, unsigned sb) { samples_[sb & 31] = sample; }
    // Stores all 32 subband samples at once.
    void inputSamples(const float* samples);
    // Turns the 32 stored subband samples into 32 output samples (x 32768,
    // clamped, truncated toward zero) appended to out for this channel.
    void calculatePcmSamples(Obuffer& out);
    // The same 32 samples written to pcm instead.
    void calculatePcmSamples(int16_t* pcm);
    // Runs count passes in a row, from lines[sb * stride + p] (pass p of
    // subband sb) rather than the stored samples. The rows must hold a
    // multiple of 8 readable values from pass 0: passes are taken eight at a
    // time, and the extra ones are computed and dropped.
    void calculatePcmPasses(const float* lines, int stride, int count, Obuffer& out);

    // Whether the coming output depends on the same history as other's
    // (the ring of vectors may start at a different place).
    bool sameHistory(const SynthesisFilter& other) const;

private:
    // The two above, compiled twice (only ever called from their own file,
    // where both compilers see the copies declared).
    VEX_WIDE_CLONES void samples(int16_t* pcm);
    VEX_WIDE_CLONES void passes(const float* lines, int stride, int count, Obuffer& out);
    void pushVector(const float* x, int step);
    void windowPass(int age, int16_t* pcm) const;

    // The window reads the last 16 vectors; the ring holds 8 more, the
    // vectors of a batch of passes pushed before the batch is windowed.
    static constexpr int kRing = 32;

    int channel_;
    float samples_[32] = {};
    // The last matrixed vectors, 64 values each; block age 0 is newest.
    alignas(32) float v_[kRing][64] = {};
    int newest_ = 0;
};

}  // namespace mp3
