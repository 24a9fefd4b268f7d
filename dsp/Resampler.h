#pragma once
#include <cstdint>
#include <vector>

// Band-limited fixed-point resampler (windowed-sinc table interpolation).
// Integer arithmetic throughout, so every platform gives the same bits.
class Resampler {
public:
    Resampler() = default;

    // Frees any previous state and prepares a conversion by `factor`
    // (output rate / input rate) for `channels` channels.
    void SetUp(double factor, int32_t channels, double gain = 1.0);

    // Converts channel c's samples input[c*inCount ...] into output[c*wanted ...].
    // On return inCount holds the number of input samples consumed.
    // Returns the number of output samples written per channel.
    int32_t Convert(const int16_t* input, int32_t& inCount, int32_t wanted, int16_t* output);

private:
    // implementation state: see Resampler.cpp
    std::vector<std::vector<int16_t>> x_;   // input windows, one per channel
    std::vector<std::vector<int16_t>> y_;   // output blocks, one per channel
    uint32_t time_ = 0;
    double factor_ = 1.0;
    int32_t channels_ = 0;
    bool firstCall_ = true;
    double gain_ = 1.0;
    int32_t obuffSize_ = 0;
};
