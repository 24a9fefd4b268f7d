#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/MP3Fixtures.h"
#include "support/Signals.h"
#include "support/TestFiles.h"

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
        // The channels differ, so that joint stereo has a side signal to code.
        const auto left = test::music(v.rate, 3.0, 1);
        const auto pcm = v.channels == 1 ? left : test::interleave(left, test::music(v.rate, 3.0, 2));
        test::writeWav(wav, pcm, v.rate, v.channels);
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
