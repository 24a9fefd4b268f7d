#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "audio/mp3/Obuffer.h"

using namespace mp3;

namespace {

int16_t valueAt(int64_t frame, int channel) { return int16_t((frame * 7 + channel * 13) & 0x7FFF); }

}  // namespace

// Samples arrive per channel in blocks of 32, one channel up to a granule
// (576 frames) ahead of the other as Layer III hands them out; the chunks
// must still join into one gapless interleaved stream, however the chunk
// ends fall.
TEST(WavefileObuffer, ChunksJoinWithoutGaps) {
    for (int channels : {1, 2}) {
        for (int64_t chunkFrames : {1000, 1152, 4097}) {
            SCOPED_TRACE(std::to_string(channels) + " channels, chunks of " + std::to_string(chunkFrames));
            Wavefile_Obuffer out(channels, chunkFrames);
            const int64_t frames = 20 * 576;
            int16_t block[32];
            for (int64_t granule = 0; granule < frames; granule += 576)
                for (int ch = 0; ch < channels; ++ch)
                    for (int64_t f = granule; f < granule + 576; f += 32) {
                        for (int j = 0; j < 32; ++j) block[j] = valueAt(f + j, ch);
                        out.appendSamples(ch, block, 32);
                    }
            ASSERT_EQ(out.count(), frames * channels);
            std::vector<int16_t> all(size_t(out.count()));
            out.copyOut(all.data());
            int64_t bad = 0;
            for (int64_t f = 0; f < frames; ++f)
                for (int ch = 0; ch < channels; ++ch) bad += all[size_t(f * channels + ch)] != valueAt(f, ch);
            EXPECT_EQ(bad, 0);
        }
    }
}
