#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "audio/mp3/Obuffer.h"

using namespace mp3;

TEST(WavefileObuffer, ChunksJoinWithoutGaps) {
    for (int channels : {1, 2}) {
        SCOPED_TRACE(channels);
        Wavefile_Obuffer out(channels);
        // Two full chunks and a part, in whole blocks of 32.
        const int64_t frames = (Wavefile_Obuffer::kFramesPerChunk * 2 + 1000 + 31) / 32 * 32;
        // Blocks of 32 per channel, channel 0 first, as the decoder appends.
        int16_t block[32];
        for (int64_t f = 0; f < frames; f += 32) {
            for (int ch = 0; ch < channels; ++ch) {
                for (int j = 0; j < 32; ++j) block[j] = int16_t(((f + j) * 7 + ch * 13) & 0x7FFF);
                out.appendSamples(ch, block, 32);
            }
        }
        EXPECT_EQ(out.fullChunks(), 2u);
        ASSERT_EQ(out.count(), frames * channels);
        std::vector<int16_t> all(size_t(out.count()));
        out.copyOut(all.data());
        int64_t bad = 0;
        for (int64_t f = 0; f < frames; ++f)
            for (int ch = 0; ch < channels; ++ch)
                bad += all[size_t(f * channels + ch)] != int16_t((f * 7 + ch * 13) & 0x7FFF);
        EXPECT_EQ(bad, 0);
    }
}

TEST(WavefileObuffer, IgnoresChannelsItDoesNotHave) {
    Wavefile_Obuffer mono(1);
    mono.append(0, 5);
    mono.append(1, 6);
    mono.append(-1, 7);
    ASSERT_EQ(mono.count(), 1);
    int16_t v = 0;
    mono.copyOut(&v);
    EXPECT_EQ(v, 5);
}
