#include <gtest/gtest.h>

#include "Encoders.h"
#include "Signals.h"
#include "TestFiles.h"
#include "audio/FileFormat.h"
#include "dsp/QuorbixError.h"
#include "dsp/SignalObj.h"

// A load limited to the start of a file stops decoding early; what it keeps
// must be exactly what a whole load followed by the crop keeps.
TEST(SoundLoader, LimitedLoadEqualsWholeLoadCropped) {
    registerAllFormats();
    test::TempDir dir;
    const int32_t rate = 22050;
    const auto stereo = test::interleave(test::sine(440, rate, 4.0, 9000.0), test::noise(rate, 4.0, 3000.0, 7));
    test::writeWav(dir.path("s.wav"), stereo, rate, 2);
    test::writeFlac(dir.path("s.flac"), stereo, 2, rate);
    test::writeOggVorbis(dir.path("s.ogg"), stereo, 2, rate);
    test::writeFlac(dir.path("m.flac"), test::sine(300, rate, 4.0), 1, rate);

    for (const char* name : {"s.wav", "s.flac", "s.ogg", "m.flac"}) {
        for (double limit : {1500.0, 2999.9, 0.01}) {
            SCOPED_TRACE(std::string(name) + " " + std::to_string(limit));
            const std::string path = dir.path(name);
            const auto* format = findFormat(path.c_str(), path.size());
            ASSERT_NE(format, nullptr);
            SignalObj whole, limited;
            ASSERT_TRUE(format->load(whole, path.c_str(), -1));
            if (limit < 1.0) {
                // Less than one frame: the crop's own error, on both paths.
                EXPECT_THROW(whole.Crop(0.0, limit), QuorbixError);
                EXPECT_THROW(format->load(limited, path.c_str(), limit), QuorbixError);
                continue;
            }
            const double wholeMs = whole.durationMs;
            whole.Crop(0.0, limit);
            ASSERT_TRUE(format->load(limited, path.c_str(), limit));
            EXPECT_EQ(limited.length, whole.length);
            EXPECT_EQ(limited.width, whole.width);
            EXPECT_EQ(limited.elementCount, whole.elementCount);
            EXPECT_DOUBLE_EQ(limited.durationMs, wholeMs);
            EXPECT_TRUE(std::equal(whole.data, whole.data + whole.elementCount, limited.data));
        }
    }
}
