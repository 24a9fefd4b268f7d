#include "Signals.h"

#include <cmath>
#include <random>
#include <stdexcept>

#include "audio/WaveWriter.h"

namespace test {

std::vector<int16_t> sine(double hz, int32_t rate, double seconds, double amplitude, double phase) {
    const auto n = static_cast<size_t>(rate * seconds);
    std::vector<int16_t> x(n);
    for (size_t i = 0; i < n; ++i)
        x[i] = static_cast<int16_t>(std::lround(amplitude * std::sin(2.0 * M_PI * hz * double(i) / rate + phase)));
    return x;
}

std::vector<int16_t> noise(int32_t rate, double seconds, double amplitude, uint32_t seed) {
    std::mt19937 gen(seed);
    const auto n = static_cast<size_t>(rate * seconds);
    std::vector<int16_t> x(n);
    const auto a = static_cast<int32_t>(amplitude);
    for (auto& v : x) v = static_cast<int16_t>(static_cast<int32_t>(gen() % (2u * a + 1)) - a);
    return x;
}

std::vector<int16_t> interleave(const std::vector<int16_t>& left, const std::vector<int16_t>& right) {
    std::vector<int16_t> x(2 * left.size());
    for (size_t i = 0; i < left.size(); ++i) {
        x[2 * i] = left[i];
        x[2 * i + 1] = right[i];
    }
    return x;
}

void writeWav(const std::string& path, const std::vector<int16_t>& samples, int32_t rate, int32_t channels) {
    if (!writeWaveFile(path.c_str(), samples.data(), static_cast<int64_t>(samples.size()), rate, channels))
        throw std::runtime_error("cannot write " + path);
}

}  // namespace test
