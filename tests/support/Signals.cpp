#include "Signals.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <stdexcept>

#include "analysis/SongObj.h"
#include "audio/WaveWriter.h"
#include "dsp/SignalObj.h"

namespace test {

std::vector<int16_t> sine(double hz, int32_t rate, double seconds, double amplitude, double phase) {
    std::vector<int16_t> x(static_cast<size_t>(std::llround(rate * seconds)));
    for (size_t i = 0; i < x.size(); ++i) {
        const double cycles = std::fmod(hz * double(i), rate) / rate;
        x[i] = static_cast<int16_t>(std::lround(amplitude * std::sin(2.0 * M_PI * cycles + phase)));
    }
    return x;
}

std::vector<int16_t> noise(int32_t rate, double seconds, double amplitude, uint32_t seed) {
    // mt19937's output is the same everywhere; the standard distributions' is not.
    std::mt19937 gen(seed);
    std::vector<int16_t> x(static_cast<size_t>(std::llround(rate * seconds)));
    const auto a = static_cast<int32_t>(amplitude);
    for (auto& v : x) v = static_cast<int16_t>(static_cast<int32_t>(gen() % (2u * a + 1)) - a);
    return x;
}

std::vector<int16_t> music(int32_t rate, double seconds, uint32_t seed) {
    std::vector<int16_t> x = noise(rate, seconds, 3000.0, seed);
    for (size_t i = 0; i < x.size(); ++i) {
        const double hz = 200 + 37 * ((i / rate + seed) % 23);
        const double t = double(i % rate) / rate;
        const double pulse = 0.3 + 0.7 * std::exp(-double(i % (rate / 2)) / (0.04 * rate));
        const double tone = 12000 * std::sin(2 * M_PI * hz * t) + 6000 * std::sin(2 * M_PI * 3 * hz * t);
        x[i] = static_cast<int16_t>(std::lround(pulse * tone + x[i]));
        if (i % rate == size_t(rate / 2)) x[i] = 32767;
    }
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

std::complex<double> measuredResponse(const std::vector<int16_t>& in, const std::vector<int16_t>& out,
                                      double hz, int32_t rate, size_t from) {
    std::complex<double> x, y;
    for (size_t i = from; i < from + size_t(rate); ++i) {
        const auto e = std::polar(1.0, -2.0 * M_PI * std::fmod(hz * double(i), rate) / rate);
        x += double(in.at(i)) * e;
        y += double(out.at(i)) * e;
    }
    return y / x;
}

namespace {
template <class Signal>
std::unique_ptr<Signal> holding(std::unique_ptr<Signal> s, const std::vector<int16_t>& samples,
                                int32_t rate, int32_t channels) {
    s->CreateBuffer(static_cast<int32_t>(samples.size()), rate, channels == 2);
    std::copy(samples.begin(), samples.begin() + s->elementCount, s->data);
    return s;
}
}  // namespace

std::unique_ptr<SignalObj> signalOf(const std::vector<int16_t>& samples, int32_t rate, int32_t channels) {
    return holding(std::make_unique<SignalObj>(), samples, rate, channels);
}

std::unique_ptr<SongObj> songOf(const std::vector<int16_t>& samples, int32_t rate, int32_t channels) {
    return holding(std::make_unique<SongObj>("fixture"), samples, rate, channels);
}

void writeWav(const std::string& path, const std::vector<int16_t>& samples, int32_t rate, int32_t channels) {
    if (!writeWaveFile(path.c_str(), samples.data(), static_cast<int64_t>(samples.size()), rate, channels))
        throw std::runtime_error("cannot write " + path);
}

}  // namespace test
