#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/MP3Fixtures.h"
#include "support/Signals.h"
#include "support/TestFiles.h"

namespace {

// A few seconds of music-like material: chords of partials with a slow
// tremolo plus quiet seeded noise, different in each channel.
std::vector<int16_t> material(int rate, int channels, double seconds) {
    const size_t n = size_t(rate * seconds);
    const std::vector<int16_t> hiss = test::noise(rate, seconds * channels, 600.0, 11);
    std::vector<int16_t> out(n * size_t(channels));
    for (size_t i = 0; i < n; ++i) {
        const double t = double(i) / rate;
        for (int ch = 0; ch < channels; ++ch) {
            double v = 0.0;
            const double base = ch ? 220.0 : 196.0;
            for (int p = 1; p <= 6; ++p) v += std::sin(2 * M_PI * base * p * t * (1 + 0.25 * (p % 3))) / p;
            v *= 7000.0 * (1.0 + 0.5 * std::sin(2 * M_PI * 1.5 * t + ch));
            v += hiss[i * size_t(channels) + size_t(ch)];
            out[i * size_t(channels) + size_t(ch)] = int16_t(std::lround(std::max(-32000.0, std::min(32000.0, v))));
        }
    }
    return out;
}

std::string quoted(const std::string& s) { return "'" + s + "'"; }

// Offset (in frames) of b inside a that minimises the squared difference
// over a stretch near the start; a = ours, b = the oracle's. Searched near
// 0 and near one frame of either size, where an info frame would put it.
long bestOffset(const std::vector<int16_t>& a, const std::vector<int16_t>& b, int channels) {
    long best = 0;
    double bestErr = -1.0;
    const size_t span = 4096 * size_t(channels);
    std::vector<long> candidates;
    for (long centre : {0L, 576L, 1152L})
        for (long d = centre - 40; d <= centre + 40; ++d) candidates.push_back(d);
    for (long d : candidates) {
        double err = 0.0;
        const long start = 4000;
        if (start + d < 0) continue;
        const size_t ia = size_t(start + d) * size_t(channels), ib = size_t(start) * size_t(channels);
        if (ia + span > a.size() || ib + span > b.size()) continue;
        for (size_t i = 0; i < span; ++i) {
            const double e = double(a[ia + i]) - b[ib + i];
            err += e * e;
        }
        if (bestErr < 0 || err < bestErr) bestErr = err, best = d;
    }
    return best;
}

}  // namespace

// Files made by an encoder at test time decode like an independent decoder
// does (its rounded output against our truncated one: the same bounds as the
// conformance vectors).
TEST(MP3Peer, EncodedFilesMatchAnIndependentDecoder) {
    if (!test::haveTool("lame") || !test::haveTool("mpg123")) GTEST_SKIP() << "lame or mpg123 not installed";
    struct Variant {
        int rate;
        int channels;
        const char* args;
    };
    const Variant variants[] = {
        {44100, 2, "-b 192 -m s"}, {44100, 2, "-V 2 -m j"},  {44100, 1, "-b 96 -m m"},
        {48000, 2, "-b 256 -m j"}, {32000, 2, "-V 4 -m s"},  {32000, 1, "-b 64 -m m"},
        {22050, 2, "-b 64 -m j"},  {24000, 1, "-V 3 -m m"},  {16000, 2, "-b 32 -m j"},
        {16000, 1, "-V 6 -m m"},   {48000, 1, "-V 0 -m m"},  {22050, 1, "-b 48 -m m"},
    };
    test::TempDir dir;
    for (const Variant& v : variants) {
        const std::string tag = std::to_string(v.rate) + "/" + std::to_string(v.channels) + " " + v.args;
        SCOPED_TRACE(tag);
        const std::string wav = dir.path("in.wav"), mp3 = dir.path("out.mp3"), raw = dir.path("out.raw");
        test::writeWav(wav, material(v.rate, v.channels, 4.0), v.rate, v.channels);
        const std::string encode = std::string("lame --quiet --noreplaygain ") + v.args + " " + quoted(wav) + " " + quoted(mp3);
        ASSERT_EQ(std::system(encode.c_str()), 0) << encode;
        const std::string decode = "mpg123 -q --no-gapless -s " + quoted(mp3) + " > " + quoted(raw);
        ASSERT_EQ(std::system(decode.c_str()), 0) << decode;

        const test::Mp3Decode d = test::decodeMp3File(mp3);
        ASSERT_TRUE(d.ok) << d.error;
        EXPECT_EQ(d.rate, v.rate);
        EXPECT_EQ(d.channels, v.channels);
        const std::vector<int16_t> ref = test::readPcm16(raw);
        const long offset = bestOffset(d.pcm, ref, v.channels);
        // The oracle leaves out the encoder's info frame; nothing else moves.
        const long frame = v.rate >= 32000 ? 1152 : 576;
        EXPECT_TRUE(offset == 0 || offset == frame) << "offset " << offset;
        const size_t ch = size_t(v.channels);
        const size_t ours = d.pcm.size() / ch - size_t(offset), theirs = ref.size() / ch;
        const size_t n = std::min(ours, theirs);
        EXPECT_GE(n + 2 * size_t(frame), theirs);
        const test::PcmDiff diff = test::comparePcm(d.pcm.data() + size_t(offset) * ch, ref.data(), n * ch);
        EXPECT_LE(diff.rms, 0.75);
        EXPECT_LE(diff.maxAbs, 2);
        std::printf("%-24s offset %ld rms %.4f max %d over %zu\n", tag.c_str(), offset, diff.rms, diff.maxAbs, diff.count);
    }
}
