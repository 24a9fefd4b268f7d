#pragma once

namespace mp3 {

class Obuffer;

// The 32-band polyphase synthesis filter of one output channel.
class SynthesisFilter {
public:
    // Stores the next sample of subband sb (0..31) for the coming pass.
    void input_sample(float sample, unsigned sb);
    // Turns the 32 stored subband samples into 32 output samples (x 32768,
    // clamped, truncated toward zero) appended to out for this channel.
    void calculate_pcm_samples(Obuffer& out);
};

}  // namespace mp3
