#pragma once
#include <cstdint>
#include <memory>
#include <vector>

// Band-limited fixed-point resampler (windowed-sinc table interpolation,
// J. O. Smith's bandlimited interpolation method with the large filter).
// Integer arithmetic throughout, so every platform gives the same bits.
class Resampler {
public:
    // How Convert evaluates the filter's inner products; all give identical
    // output. Reference is the plain per-tap loop, the oracle for the others.
    // Fast looks the interpolated coefficients up in rows built once and takes
    // vector dot products (AVX2 where the processor has it, else SSE2 when
    // compiled for it); Vector128 forces the SSE2 form; Portable is Fast with a
    // plain loop for the dot product, which is what Fast is without SSE2.
    // Auto, the default, is Fast unless the conversion is too short to use
    // its rows more than once or so: then building them costs more than the
    // reference's direct sums.
    enum class Path { Auto, Fast, Vector128, Portable, Reference };

    Resampler() = default;

    // Frees any previous state and prepares a conversion by `factor`
    // (output rate / input rate) for `channels` channels.
    // Throws QuorbixError for a factor that is not finite, not positive or
    // above kMaxFactor, for a gain that is not finite or above kMaxGain in
    // magnitude, and for a channel count outside 1..kMaxChannels.
    void SetUp(double factor, int32_t channels, double gain = 1.0);

    // Converts channel c's samples input[c*inCount ...] into output[c*wanted ...].
    // On return inCount holds the number of input samples consumed.
    // Returns the number of output samples written per channel (at most wanted).
    // A negative inCount or wanted counts as 0.
    int32_t Convert(const int16_t* input, int32_t& inCount, int32_t wanted, int16_t* output);
    // The same, computing and writing only the blocks whose first output
    // falls in [computeFrom, computeTo), and stopping after the last such
    // block; the others only move the window on. Two resamplers set up alike
    // can so share one conversion between two threads, bit for bit.
    int32_t Convert(const int16_t* input, int32_t& inCount, int32_t wanted, int16_t* output,
                    int32_t computeFrom, int32_t computeTo);

    void SetPath(Path path) { path_ = path; }
    // "avx2", "sse2" or "portable": the dot product the Fast path uses here.
    static const char* FastPathName();

    static constexpr double kMaxFactor = 1024.0;
    static constexpr double kMaxGain = 64.0;
    static constexpr int32_t kMaxChannels = 8;

private:
    uint32_t runReference(const int16_t* x, int16_t* y, int32_t count, uint32_t time) const;
    template <int Kernel>  // 0 portable, 1 SSE2, 2 AVX2
    uint32_t runFast(const int16_t* x, int16_t* y, int32_t count, uint32_t time);
    // Row r of coefficients, built on first use (out of line: it is rare).
    const int16_t* row(uint32_t r) {
        return rowReady_[r] ? rows_.get() + static_cast<size_t>(r) * rowStride_ : buildRow(r);
    }
    __attribute__((noinline)) const int16_t* buildRow(uint32_t r);

    std::vector<std::vector<int16_t>> x_;   // input windows, one per channel
    std::vector<std::vector<int16_t>> y_;   // output blocks, one per channel
    uint32_t time_ = 0;
    double factor_ = 1.0;
    int32_t channels_ = 0;
    bool firstCall_ = true;
    int32_t obuffSize_ = 0;

    // Derived from the factor at set-up.
    bool tooSmall_ = false;   // the filter's reach does not fit the window
    int32_t xoff_ = 0;        // filter reach plus creeping room, in input samples
    int32_t blockOut_ = 0;    // outputs per full block: OBUFFSIZE - trunc(2 Xoff factor)
    int32_t lpScl_ = 0;
    uint32_t dtb_ = 0;        // output period in input samples, Q15
    uint32_t dhb_ = 0;        // filter step when down-sampling, Q7 table entries

    Path path_ = Path::Auto;
    // The fast path's coefficient rows, built on first use. A wing's
    // coefficients depend only on where it starts in the table: the phase
    // (factor >= 1) or (phase * dhb) >> Np (factor < 1), one row each.
    int32_t rowTaps_ = 0;            // taps per wing, a whole number of vectors
    int32_t rowStride_ = 0;          // rowTaps_ plus a vector, for the shifted start
    int32_t rowCount_ = 0;           // rows there can be; allocated on first use
    int64_t rowsVisited_ = 0;        // at most this many distinct rows are ever used
    std::unique_ptr<int16_t[]> rows_;
    std::vector<uint8_t> rowReady_;
    std::vector<int16_t> reversed_;  // the window back to front, for the left wing
};
