#pragma once
#include <complex>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class SignalObj;
class SongObj;

// Signals made in code: mono or interleaved int16 samples, and the signal
// objects that hold them. Every other test fixture is built from these.
namespace test {

// rate * seconds samples, rounded. For whole-Hz tones the phase is computed
// from the index modulo the rate, so it stays exact over long signals.
std::vector<int16_t> sine(double hz, int32_t rate, double seconds, double amplitude = 16000.0,
                          double phase = 0.0);
// Seeded uniform noise in [-amplitude, amplitude].
std::vector<int16_t> noise(int32_t rate, double seconds, double amplitude, uint32_t seed = 1);
// Busy, time-varying mono audio that the preparation leaves as it is (loud
// from the first block to the last, no DC, a full-scale sample every second):
// a tone and its third harmonic changing pitch every second, a pulse every
// 500 ms, seeded noise. Different seeds give different pitches and noise.
std::vector<int16_t> music(int32_t rate, double seconds, uint32_t seed = 1);
// Interleaves two equally long channels.
std::vector<int16_t> interleave(const std::vector<int16_t>& left, const std::vector<int16_t>& right);

// A signal (or a song) holding exactly these interleaved samples, 1 or 2
// channels. Include dsp/SignalObj.h or analysis/SongObj.h to use them.
std::unique_ptr<SignalObj> signalOf(const std::vector<int16_t>& samples, int32_t rate,
                                    int32_t channels = 1);
std::unique_ptr<SongObj> songOf(const std::vector<int16_t>& samples, int32_t rate,
                                int32_t channels = 1);

// The gain and phase a filter run showed at a whole-Hz frequency: the ratio
// of output to input Fourier coefficients over one second from `from`.
std::complex<double> measuredResponse(const std::vector<int16_t>& in, const std::vector<int16_t>& out,
                                      double hz, int32_t rate, size_t from);

// Writes a canonical 16-bit WAVE file; throws on failure.
void writeWav(const std::string& path, const std::vector<int16_t>& samples, int32_t rate,
              int32_t channels);

}  // namespace test
