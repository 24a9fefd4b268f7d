#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace test {

// Mono or interleaved int16 test signals, made in code.
std::vector<int16_t> sine(double hz, int32_t rate, double seconds, double amplitude = 16000.0,
                          double phase = 0.0);
// Seeded uniform noise in [-amplitude, amplitude].
std::vector<int16_t> noise(int32_t rate, double seconds, double amplitude, uint32_t seed = 1);
// Interleaves two equally long channels.
std::vector<int16_t> interleave(const std::vector<int16_t>& left, const std::vector<int16_t>& right);

// Writes a canonical 16-bit WAVE file; throws on failure.
void writeWav(const std::string& path, const std::vector<int16_t>& samples, int32_t rate,
              int32_t channels);

}  // namespace test
