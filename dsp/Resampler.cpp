#include "dsp/Resampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "dsp/QuorbixError.h"
#include "dsp/ResamplerTable.h"

// Fixed-point layout of J. O. Smith's bandlimited interpolation method:
// the input position carries Np fraction bits, of which the top Nhc pick the
// table entry within a zero crossing and the low Na interpolate between entries.
namespace {

constexpr int32_t kIbuffSize = 4096;
constexpr int32_t kIbuffPad = 256;  // the window's tail beyond IBUFFSIZE, always zero
constexpr int32_t kNmult = 65;      // zero crossings of the large filter

constexpr int kNp = 15;
constexpr uint32_t kPmask = 0x7FFF;
constexpr int kNa = 7;
constexpr uint32_t kAmask = 0x7F;
constexpr int kNhc = 8;
constexpr int32_t kNpc = 1 << kNhc;
constexpr int kNhxn = 14;
constexpr int kNhg = 2;
constexpr int kNLpScl = 13;

constexpr int32_t kNwing = kResamplerNwing;
constexpr int32_t kLane = 8;  // int16 values per vector; tap lists are padded to this

static_assert(kNpc == kResamplerNpc, "table resolution and phase split disagree");

const int16_t* const kImp = kResamplerImp;
const int16_t* const kImpD = kResamplerImpD;

// One coefficient, linearly interpolated between table entries h and h + 1.
inline int32_t coefficient(uint32_t h, int32_t a) {
    return kImp[h] + ((kImpD[h] * a) >> kNa);
}

// One term of the inner product. The rounding is the published one: add
// 2^(Nhxn-1) only when that bit is set. That equals adding it unconditionally
// (no carry reaches bit Nhxn otherwise), which the vector path relies on.
inline int32_t term(int32_t w, int16_t x) {
    int32_t t = w * x;
    if (t & (1 << (kNhxn - 1))) t += 1 << (kNhxn - 1);
    return t >> kNhxn;
}

// Left (inc = -1) or right (inc = +1) wing for factor >= 1, starting at X[i].
int32_t wingUp(const int16_t* x, int32_t i, uint32_t ph, int32_t inc) {
    uint32_t h = ph >> kNa;
    const int32_t a = static_cast<int32_t>(ph & kAmask);
    uint32_t end = kNwing;
    if (inc == 1) {
        --end;  // the right wing drops the last entry so phase 0.5 does not overcount
        if (ph == 0) h += kNpc;  // the centre tap belongs to the left wing
    }
    int32_t v = 0;
    for (; h < end; h += kNpc, i += inc) v += term(coefficient(h, a), x[i]);
    return v;
}

// The same for factor < 1: the filter is stretched by stepping through the
// table in dhb increments (Q7), which lowers the cut-off to the output Nyquist.
int32_t wingDown(const int16_t* x, int32_t i, uint32_t ph, int32_t inc, uint32_t dhb) {
    uint32_t ho = (ph * dhb) >> kNp;
    uint32_t end = kNwing;
    if (inc == 1) {
        --end;
        if (ph == 0) ho += dhb;
    }
    int32_t v = 0;
    for (uint32_t h; (h = ho >> kNa) < end; ho += dhb, i += inc)
        v += term(coefficient(h, static_cast<int32_t>(ho & kAmask)), x[i]);
    return v;
}

// (v >> Nhg) * LpScl, rounded by NLpScl bits and clamped. Smith's
// bandlimited-interpolation method computes this in 32-bit words; unsigned
// arithmetic reproduces its wrap-around without the undefined behaviour of
// signed overflow.
inline int16_t outputSample(int32_t v, int32_t lpScl) {
    const uint32_t scaled = static_cast<uint32_t>(v >> kNhg) * static_cast<uint32_t>(lpScl);
    const int32_t y = static_cast<int32_t>(scaled + (1u << (kNLpScl - 1))) >> kNLpScl;
    return static_cast<int16_t>(std::clamp<int32_t>(y, -32768, 32767));
}

// Sum of term(w[k], x[k]) over k < n, n a multiple of kLane.
int32_t dotPortable(const int16_t* w, const int16_t* x, int32_t n) {
    int32_t v = 0;
    for (int32_t k = 0; k < n; ++k) v += (w[k] * x[k] + (1 << (kNhxn - 1))) >> kNhxn;
    return v;
}

#if defined(__SSE2__)
constexpr bool kHaveVector = true;
int32_t dotVector(const int16_t* w, const int16_t* x, int32_t n) {
    const __m128i half = _mm_set1_epi32(1 << (kNhxn - 1));
    __m128i acc = _mm_setzero_si128();
    for (int32_t k = 0; k < n; k += kLane) {
        const __m128i wv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + k));
        const __m128i xv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + k));
        const __m128i lo = _mm_mullo_epi16(wv, xv);
        const __m128i hi = _mm_mulhi_epi16(wv, xv);
        const __m128i p0 = _mm_unpacklo_epi16(lo, hi);  // exact 32-bit products
        const __m128i p1 = _mm_unpackhi_epi16(lo, hi);
        acc = _mm_add_epi32(acc, _mm_srai_epi32(_mm_add_epi32(p0, half), kNhxn));
        acc = _mm_add_epi32(acc, _mm_srai_epi32(_mm_add_epi32(p1, half), kNhxn));
    }
    acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, _MM_SHUFFLE(1, 0, 3, 2)));
    acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm_cvtsi128_si32(acc);
}
// The same 16 values at a time where the processor has AVX2, chosen at run
// time. Integer sums do not depend on their order, so all three forms agree
// bit for bit. addTerms adds the rounded terms of 16 taps to acc.
__attribute__((target("avx2"))) inline __m256i addTerms(__m256i acc, const int16_t* w, const int16_t* x) {
    const __m256i half = _mm256_set1_epi32(1 << (kNhxn - 1));
    const __m256i wv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w));
    const __m256i xv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x));
    const __m256i lo = _mm256_mullo_epi16(wv, xv);
    const __m256i hi = _mm256_mulhi_epi16(wv, xv);
    acc = _mm256_add_epi32(acc, _mm256_srai_epi32(_mm256_add_epi32(_mm256_unpacklo_epi16(lo, hi), half), kNhxn));
    return _mm256_add_epi32(acc, _mm256_srai_epi32(_mm256_add_epi32(_mm256_unpackhi_epi16(lo, hi), half), kNhxn));
}

__attribute__((target("avx2"))) inline int32_t lanesSum(__m256i acc) {
    __m128i sum = _mm_add_epi32(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
    sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, _MM_SHUFFLE(1, 0, 3, 2)));
    sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm_cvtsi128_si32(sum);
}

// Both wings of one output in one pass and one reduction (integer sums, so
// the order of the terms changes nothing).
__attribute__((target("avx2"))) int32_t dotWidePair(const int16_t* w1, const int16_t* x1, const int16_t* w2,
                                                    const int16_t* x2, int32_t n) {
    __m256i acc = _mm256_setzero_si256();
    int32_t k = 0;
    for (; k + 2 * kLane <= n; k += 2 * kLane) acc = addTerms(addTerms(acc, w1 + k, x1 + k), w2 + k, x2 + k);
    return lanesSum(acc) + (k < n ? dotVector(w1 + k, x1 + k, n - k) + dotVector(w2 + k, x2 + k, n - k) : 0);
}
const bool kHaveWide = __builtin_cpu_supports("avx2");
#else
constexpr bool kHaveVector = false;
constexpr bool kHaveWide = false;
int32_t dotVector(const int16_t* w, const int16_t* x, int32_t n) { return dotPortable(w, x, n); }
int32_t dotWidePair(const int16_t* w1, const int16_t* x1, const int16_t* w2, const int16_t* x2, int32_t n) {
    return dotPortable(w1, x1, n) + dotPortable(w2, x2, n);
}
#endif

// Taps of the longest wing, the left one starting at the centre: the table is
// stepped by Npc entries for factor >= 1 (dhb 0), by dhb / 2^Na below 1.
int32_t maxWingTaps(uint32_t dhb) {
    if (dhb == 0) return kNwing / kNpc;
    const uint32_t span = static_cast<uint32_t>(kNwing) << kNa;
    return static_cast<int32_t>((span + dhb - 1) / dhb);
}

int32_t roundUpToLane(int32_t n) { return (n + kLane - 1) / kLane * kLane; }

}  // namespace

const char* Resampler::FastPathName() { return kHaveWide ? "avx2" : kHaveVector ? "sse2" : "portable"; }

void Resampler::SetUp(double factor, int32_t channels, double gain) {
    x_.clear();
    y_.clear();
    rows_.reset();
    rowReady_.clear();
    reversed_.clear();
    channels_ = 0;
    if (!std::isfinite(factor) || factor <= 0.0 || factor > kMaxFactor)
        throw QuorbixError("Resampler: factor out of range");
    if (!std::isfinite(gain) || std::fabs(gain) > kMaxGain)
        throw QuorbixError("Programming error: Resampler gain out of range");
    if (channels < 1 || channels > kMaxChannels)
        throw QuorbixError("Programming error: Resampler channel count out of range");

    factor_ = factor;
    firstCall_ = true;
    time_ = 0;
    obuffSize_ = static_cast<int32_t>(factor * kIbuffSize);

    lpScl_ = static_cast<int32_t>(gain * kResamplerLpScl);
    if (factor < 1) lpScl_ = static_cast<int32_t>(lpScl_ * factor + 0.5);
    dtb_ = static_cast<uint32_t>(32768.0 / factor + 0.5);
    dhb_ = factor < 1 ? static_cast<uint32_t>(std::min(256.0, factor * 256) * 128 + 0.5) : 0;

    // The filter's reach in input samples plus room for the output times to creep.
    const double xoff = (kNmult + 1) / 2 * std::max(1.0, 1.0 / factor) + 10;
    tooSmall_ = !(2 * std::floor(xoff) <= kIbuffSize);
    xoff_ = tooSmall_ ? 0 : static_cast<int32_t>(xoff);
    blockOut_ = obuffSize_ - static_cast<int32_t>(2 * xoff_ * factor);
    // A block that yields no output would never finish; such factors lie just
    // above the reach limit and are refused the same way.
    if (blockOut_ < 1) tooSmall_ = true;

    // Window size: the published IBUFFSIZE + 256, grown so that the window
    // shift (which reads up to IBUFFSIZE + Xoff) and the furthest tap of the
    // last output of a block, plus a vector of padding, stay inside.
    const int32_t wingTaps = maxWingTaps(dhb_);
    int32_t xsize = kIbuffSize + std::max(kIbuffPad, xoff_);
    if (!tooSmall_) {
        const uint64_t lastTime = (static_cast<uint64_t>(xoff_ + 1) << kNp) +
                                  static_cast<uint64_t>(blockOut_) * dtb_;
        xsize = std::max<int32_t>(xsize, static_cast<int32_t>(lastTime >> kNp) + wingTaps + 1);
    }
    xsize += 2 * kLane;
    x_.assign(channels, std::vector<int16_t>(xsize, 0));
    y_.assign(channels, std::vector<int16_t>(std::max(obuffSize_, 0)));
    channels_ = channels;

    // Coefficient rows for the fast path. Taps past the table's end are zero,
    // as are the table's own last entries, so every wing can use the same
    // padded length.
    rowTaps_ = roundUpToLane(wingTaps);
    rowStride_ = rowTaps_ + kLane;
    rowCount_ = factor >= 1 ? 1 << kNp : static_cast<int32_t>(dhb_);
    // The output phases step by dtb mod 2^Np from 0, so they take 2^Np / gcd
    // values (one for factor 0.5); each output reads a left and a right row.
    const uint32_t phaseStep = dtb_ & kPmask;
    const int64_t phases = phaseStep == 0 ? 1 : (int64_t{1} << kNp) / std::gcd(phaseStep, 1u << kNp);
    rowsVisited_ = std::min<int64_t>(rowCount_, 2 * phases);
    reversed_.assign(xsize, 0);
}

// Coefficients of the wing that starts at table position r: the phase for
// factor >= 1, the Q7 table offset (phase * dhb) >> Np below 1.
const int16_t* Resampler::buildRow(uint32_t r) {
    int16_t* w = rows_.get() + static_cast<size_t>(r) * rowStride_;
    std::fill(w, w + rowStride_, int16_t{0});
    if (factor_ >= 1) {
        const int32_t a = static_cast<int32_t>(r & kAmask);
        for (uint32_t h = r >> kNa, k = 0; h < static_cast<uint32_t>(kNwing); h += kNpc, ++k)
            w[k] = static_cast<int16_t>(coefficient(h, a));
    } else {
        for (uint32_t ho = r, k = 0; (ho >> kNa) < static_cast<uint32_t>(kNwing); ho += dhb_, ++k)
            w[k] = static_cast<int16_t>(coefficient(ho >> kNa, static_cast<int32_t>(ho & kAmask)));
    }
    rowReady_[r] = 1;
    return w;
}

uint32_t Resampler::runReference(const int16_t* x, int16_t* y, int32_t count, uint32_t time) const {
    for (int32_t j = 0; j < count; ++j, time += dtb_) {
        const int32_t c = static_cast<int32_t>(time >> kNp);
        const uint32_t ph = time & kPmask;
        const uint32_t phRight = ((time ^ kPmask) + 1) & kPmask;
        int32_t v;
        if (factor_ >= 1)
            v = wingUp(x, c, ph, -1) + wingUp(x, c + 1, phRight, 1);
        else
            v = wingDown(x, c, ph, -1, dhb_) + wingDown(x, c + 1, phRight, 1, dhb_);
        y[j] = outputSample(v, lpScl_);
    }
    return time;
}

template <int Kernel>
uint32_t Resampler::runFast(const int16_t* x, int16_t* y, int32_t count, uint32_t time) {
    auto dot = Kernel == 1 ? dotVector : dotPortable;
    // With the window reversed, the left wing is a forward run too.
    const int32_t last = static_cast<int32_t>(reversed_.size()) - 1;
    std::reverse_copy(x, x + reversed_.size(), reversed_.begin());
    const int16_t* xr = reversed_.data();
    const bool down = factor_ < 1;
    for (int32_t j = 0; j < count; ++j, time += dtb_) {
        const int32_t c = static_cast<int32_t>(time >> kNp);
        const uint32_t ph = time & kPmask;
        const uint32_t phRight = ((time ^ kPmask) + 1) & kPmask;
        const int16_t* wl = row(down ? (ph * dhb_) >> kNp : ph);
        // At phase 0 the centre tap belongs to the left wing; the right wing
        // starts one step further along the same row.
        const int16_t* wr = phRight == 0 ? row(0) + 1 : row(down ? (phRight * dhb_) >> kNp : phRight);
        const int32_t v = Kernel == 2 ? dotWidePair(wl, xr + (last - c), wr, x + c + 1, rowTaps_)
                                      : dot(wl, xr + (last - c), rowTaps_) + dot(wr, x + c + 1, rowTaps_);
        y[j] = outputSample(v, lpScl_);
    }
    return time;
}

int32_t Resampler::Convert(const int16_t* input, int32_t& inCount, int32_t wanted, int16_t* output) {
    return Convert(input, inCount, wanted, output, 0, INT32_MAX);
}

int32_t Resampler::Convert(const int16_t* input, int32_t& inCount, int32_t wanted, int16_t* output,
                           int32_t computeFrom, int32_t computeTo) {
    if (channels_ < 1) throw QuorbixError("Programming error: Resampler::Convert before SetUp");
    if (tooSmall_) throw QuorbixError("IBUFFSIZE (or factor) is too small");
    const int32_t total = std::max(inCount, 0);
    wanted = std::max(wanted, 0);

    const int32_t xoff = xoff_;
    int32_t nx = kIbuffSize - 2 * xoff;
    int32_t xread = xoff;
    int32_t ycount = 0;
    int32_t consumed = 0;
    int32_t last = 0;  // index in X of the last input sample, once it has been read
    int32_t readPos = 0;
    // The first output lies on the first input sample, with Xoff zeros before it.
    if (firstCall_) time_ = static_cast<uint32_t>(xoff) << kNp;
    // A row costs about what the reference spends on one wing of one output,
    // plus its page; each output reads two rows per channel. Rows read less
    // than twice each on average do not pay.
    Path path = path_;
    if (path == Path::Auto) {
        const int64_t rowsBuilt = std::min<int64_t>(rowsVisited_, 2 * int64_t{wanted});
        path = int64_t{wanted} * channels_ < rowsBuilt ? Path::Reference : Path::Fast;
    }
    // A conversion that only walks (nothing in the computed range) builds no rows.
    const bool computes = computeFrom < std::min(wanted, computeTo);
    if (path != Path::Reference && computes && rowReady_.empty()) {
        // Left uninitialised: a row is written whole when first used, and
        // most conversions use few of them.
        rows_.reset(new int16_t[static_cast<size_t>(rowCount_) * rowStride_]);
        rowReady_.assign(rowCount_, 0);
    }

    do {
        if (last == 0) {
            const int32_t n = std::min(kIbuffSize - xread, total - readPos);
            for (int32_t c = 0; c < channels_ && n > 0; ++c)
                std::memcpy(x_[c].data() + xread, input + static_cast<size_t>(c) * total + readPos,
                            static_cast<size_t>(n) * sizeof(int16_t));
            readPos += n;
            if (readPos >= total) last = xread + n - 1;
            if (last != 0 && last - xoff < nx) {
                nx = last - xoff;
                if (nx <= 0) break;  // nothing after the zero lead-in
            }
        }

        int32_t nout = std::min(blockOut_, wanted - ycount);
        const uint32_t start = time_;
        // A block outside the range only moves on: the window and the time
        // step as if its outputs had been computed.
        const bool computed = ycount >= computeFrom && ycount < computeTo;
        uint32_t time = start + static_cast<uint32_t>(nout) * dtb_;
        for (int32_t c = 0; c < channels_ && computed; ++c) {
            switch (path) {
            case Path::Auto:
            case Path::Fast:
                time = kHaveWide ? runFast<2>(x_[c].data(), y_[c].data(), nout, start)
                                 : runFast<1>(x_[c].data(), y_[c].data(), nout, start);
                break;
            case Path::Vector128: time = runFast<1>(x_[c].data(), y_[c].data(), nout, start); break;
            case Path::Portable: time = runFast<0>(x_[c].data(), y_[c].data(), nout, start); break;
            case Path::Reference: time = runReference(x_[c].data(), y_[c].data(), nout, start); break;
            }
        }
        time_ = time;
        nx = static_cast<int32_t>((time_ >> kNp) - (start >> kNp));
        if (nx < 0 || nx > kIbuffSize)  // the window sizing in SetUp rules this out
            throw QuorbixError("Programming error: Resampler stepped outside its window");

        time_ -= static_cast<uint32_t>(nx) << kNp;
        const int32_t xp = xoff + nx;
        if (last != 0) {
            last -= xp;
            if (last == 0) last = 1;  // keep the end-of-input flag set
        }

        ycount += nout;
        if (ycount > wanted) {
            nout -= ycount - wanted;
            ycount = wanted;
        }
        if (nout > obuffSize_) throw QuorbixError("Output array overflow");
        for (int32_t c = 0; c < channels_ && nout > 0 && computed; ++c)
            std::memcpy(output + static_cast<size_t>(c) * wanted + (ycount - nout), y_[c].data(),
                        static_cast<size_t>(nout) * sizeof(int16_t));

        // Keep the samples the filter still needs: X[i] = X[i + Nx].
        const int32_t keep = kIbuffSize + xoff - nx;
        for (int32_t c = 0; c < channels_; ++c)
            std::memmove(x_[c].data(), x_[c].data() + nx, static_cast<size_t>(keep) * sizeof(int16_t));
        xread = kIbuffSize - nx;
        consumed += nx;
    } while (ycount < wanted && ycount < computeTo);

    firstCall_ = false;
    inCount = consumed;
    return ycount;
}
