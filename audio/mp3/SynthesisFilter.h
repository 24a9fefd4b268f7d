#pragma once
#include <cstdint>

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

    // Whether the coming output depends on the same history as other's
    // (the ring of vectors may start at a different place).
    bool sameHistory(const SynthesisFilter& other) const;

private:
    int channel_;
    float samples_[32] = {};
    // The last 16 matrixed vectors, 64 values each; block age 0 is newest.
    alignas(32) float v_[16][64] = {};
    int newest_ = 0;
};

}  // namespace mp3
