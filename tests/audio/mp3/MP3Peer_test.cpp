#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/MP3Fixtures.h"
#include "support/Signals.h"
#include "support/TestFiles.h"

namespace {

// A chord over seeded noise, different in each channel (so that joint
// stereo has a side signal to code).
std::vector<int16_t> material(int rate, int channels, double seconds) {
    std::vector<int16_t> ch[2];
    for (int c = 0; c < channels; ++c) {
        const auto low = test::sine(196.0 + 24.0 * c, rate, seconds, 9000.0);
        const auto high = test::sine(1500.0 + 700.0 * c, rate, seconds, 4000.0);
        const auto hiss = test::noise(rate, seconds, 1500.0, 11u + unsigned(c));
        for (size_t i = 0; i < low.size(); ++i) ch[c].push_back(int16_t(low[i] + high[i] + hiss[i]));
    }
    return channels == 2 ? test::interleave(ch[0], ch[1]) : ch[0];
}

}  // namespace

// Encoder-made VBR files decode like an independent decoder decodes them
// (its rounded output against our truncated one: the conformance bounds).
// Without the encoder's info frame both start at the same sample.
TEST(MP3Peer, EncodedFilesMatchAnIndependentDecoder) {
    if (!test::haveTool("lame") || !test::haveTool("mpg123")) GTEST_SKIP() << "lame or mpg123 not installed";
    struct Variant {
        int rate, channels;
        const char* args;
    };
    test::TempDir dir;
    for (const Variant& v : {Variant{44100, 2, "-V 2 -m j"}, Variant{22050, 1, "-V 5 -m m"}}) {
        const std::string tag = std::to_string(v.rate) + " Hz " + v.args;
        SCOPED_TRACE(tag);
        const std::string wav = dir.path("in.wav"), mp3 = dir.path("out.mp3"), raw = dir.path("out.raw");
        test::writeWav(wav, material(v.rate, v.channels, 3.0), v.rate, v.channels);
        const std::string encode = "lame --quiet -t " + std::string(v.args) + " '" + wav + "' '" + mp3 + "'";
        ASSERT_EQ(std::system(encode.c_str()), 0) << encode;
        const std::string decode = "mpg123 -q --no-gapless -s '" + mp3 + "' > '" + raw + "'";
        ASSERT_EQ(std::system(decode.c_str()), 0) << decode;

        const test::Mp3Decode d = test::decodeMp3File(mp3);
        ASSERT_TRUE(d.ok) << d.error;
        EXPECT_EQ(d.rate, v.rate);
        EXPECT_EQ(d.channels, v.channels);
        const std::vector<int16_t> ref = test::readPcm16(raw);
        EXPECT_EQ(d.pcm.size(), ref.size());
        const size_t n = std::min(d.pcm.size(), ref.size());
        ASSERT_GE(n, size_t(2 * v.rate * v.channels));
        test::expectWithinConformanceBounds(d.pcm.data(), ref.data(), n, tag);
    }
}
