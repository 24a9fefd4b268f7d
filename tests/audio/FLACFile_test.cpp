#include "audio/FLACFile.h"

#include <gtest/gtest.h>

#include <cstring>

#include "Encoders.h"
#include "ReaderProbe.h"
#include "Signals.h"
#include "TestFiles.h"
#include "audio/FileFormat.h"
#include "dsp/SignalObj.h"

namespace {

// Seeded values filling `bits` bits, both extremes first.
std::vector<int32_t> wideNoise(size_t n, int bits, uint32_t seed) {
    const int32_t top = (1 << (bits - 1)) - 1;
    std::vector<int32_t> x(n);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1664525u + 1013904223u;
        x[i] = static_cast<int32_t>(seed >> 8) % (top + 1) * ((seed & 1) ? -1 : 1);
    }
    x[0] = top, x[1] = -top - 1;
    return x;
}

}  // namespace

TEST(FLACFile, DeliversTheLowSixteenBitsOfEverySampleInterleaved) {
    test::TempDir dir;
    struct Case { int channels, rate, bits; };
    for (Case c : {Case{1, 44100, 16}, Case{2, 44100, 16}, Case{1, 48000, 16}, Case{2, 48000, 16},
                   Case{2, 44100, 24}, Case{1, 48000, 8}}) {
        SCOPED_TRACE(testing::Message() << c.channels << " ch " << c.rate << " Hz " << c.bits << " bit");
        const size_t frames = 10001;  // not a whole number of encoder blocks
        const auto input = wideNoise(frames * c.channels, c.bits, c.rate + c.bits);
        test::writeFlac(dir.path("x.flac"), input, c.channels, c.rate, c.bits);
        std::vector<int16_t> want(input.size());
        for (size_t i = 0; i < input.size(); ++i) want[i] = static_cast<int16_t>(input[i] & 0xFFFF);

        const auto r = test::readThrough<FLACFile>(dir.path("x.flac"));
        ASSERT_TRUE(r.opened);
        EXPECT_TRUE(r.readOk);
        EXPECT_EQ(r.count, static_cast<int32_t>(want.size()));
        EXPECT_EQ(r.rate, c.rate);
        EXPECT_EQ(r.stereo, c.channels == 2);
        EXPECT_EQ(test::commonPrefix(r.values, want), want.size());
    }
}

TEST(FLACFile, CountComesFromStreamInfoAndIsNeverExceeded) {
    test::TempDir dir;
    const std::string path = dir.path("x.flac");
    const auto input = test::noise(70000, 1.0, 20000, 7);
    struct Case { const char* what; int rate; uint64_t total; int32_t count; size_t written; };
    for (Case c : {Case{"as encoded", 44100, 35000, 70000, 70000},
                   Case{"fewer frames announced than decoded", 44100, 12345, 24690, 24690},
                   // rate x 600 values, not multiplied by the channel count
                   Case{"total not recorded, file beyond rate x 600", 100, 0, 60000, 60000},
                   Case{"total not recorded", 48000, 0, 28800000, 70000}}) {
        SCOPED_TRACE(c.what);
        test::writeFlac(path, input, 2, c.rate);
        test::setFlacTotalSamples(path, c.total);
        const auto r = test::readThrough<FLACFile>(path);
        ASSERT_TRUE(r.opened);
        ASSERT_EQ(r.count, c.count);
        EXPECT_EQ(test::commonPrefix(r.values, input), c.written);
        EXPECT_TRUE(test::unwrittenFrom(r.values, c.written));
    }
}

TEST(FLACFile, DamagedFilesOpenAndDeliverWhatDecodes) {
    test::TempDir dir;
    const auto input = test::noise(2 * 44100, 1.0, 20000, 10);
    test::writeFlac(dir.path("good.flac"), input, 2, 44100);
    const auto bytes = test::readBytes(dir.path("good.flac"));
    auto cut = bytes, holed = bytes;
    cut.resize(bytes.size() / 2);
    for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + 3000; ++i) holed[i] = uint8_t(i * 37);
    for (const auto& [name, file] : {std::pair{"cut.flac", cut}, std::pair{"holed.flac", holed}}) {
        SCOPED_TRACE(name);
        test::writeBytes(dir.path(name), file);
        const auto r = test::readThrough<FLACFile>(dir.path(name));
        ASSERT_TRUE(r.opened);
        EXPECT_TRUE(r.readOk);
        EXPECT_EQ(r.count, static_cast<int32_t>(input.size()));  // still the announced size
        const size_t k = test::commonPrefix(r.values, input);
        EXPECT_GT(k, input.size() * 4 / 10);
        // Decoding ends where the cut file does; the holed one resumes after the hole.
        EXPECT_TRUE(test::unwrittenFrom(r.values, file.size() < bytes.size() ? k : input.size()));
    }
}

TEST(FLACFile, OpenFailsWhenTheNameIsNotAReadableFlacFile) {
    test::TempDir dir;
    test::writeFlac(dir.path("real.flac"), test::noise(2000, 1.0, 1000, 11), 1, 44100);
    auto magicOnly = test::readBytes(dir.path("real.flac"));
    magicOnly.resize(4);
    test::writeBytes(dir.path("magic-only.flac"), magicOnly);
    test::writeBytes(dir.path("empty.flac"), {});
    test::writeWav(dir.path("wave.flac"), test::noise(2000, 1.0, 1000, 12), 44100, 1);
    for (const char* name : {"missing.flac", "real.flac#2", "empty.flac", "magic-only.flac", "wave.flac"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(test::readThrough<FLACFile>(dir.path(name)).opened);
    }
}

TEST(FLACFile, LoadsIntoASignalThroughItsFormat) {
    registerAllFormats();
    test::TempDir dir;
    const auto input = test::noise(2 * 48000, 1.0, 20000, 12);  // one second of stereo
    const std::string path = dir.path("disc.flac#2");  // a track name: the file of exactly that name
    test::writeFlac(path, input, 2, 48000);
    const Quavertone::FileFormat* format = findFormat(path.c_str(), path.size());
    ASSERT_NE(format, nullptr);
    EXPECT_STREQ(format->name(), "FLAC");

    SignalObj whole, cropped, untouched;
    ASSERT_TRUE(format->load(whole, path.c_str(), -1));
    EXPECT_EQ(whole.rate, 48000);
    EXPECT_TRUE(whole.wasStereo);
    ASSERT_EQ(whole.length, 48000);
    EXPECT_EQ(std::memcmp(whole.data, input.data(), input.size() * sizeof(int16_t)), 0);
    ASSERT_TRUE(loadFLACFile(cropped, path.c_str(), 250.0));
    EXPECT_EQ(cropped.length, 12000);

    const std::string other = dir.path("disc.flac#3");
    EXPECT_EQ(findFormat(other.c_str(), other.size()), format);
    EXPECT_FALSE(format->load(untouched, other.c_str(), -1));
    EXPECT_EQ(untouched.data, nullptr);
}

TEST(FLACFile, ThreeChannelFileLoadsWithinItsBuffer) {
    // Three channels count as stereo: the signal holds count / 2 two-value
    // frames, and an odd count must not make the load write past them.
    test::TempDir dir;
    const auto input = test::noise(3 * 1001, 1.0, 20000, 13);
    test::writeFlac(dir.path("three.flac"), input, 3, 44100);
    SignalObj signal;
    ASSERT_TRUE(loadFLACFile(signal, dir.path("three.flac").c_str(), -1));
    ASSERT_EQ(signal.length, 3003 / 2);
    EXPECT_EQ(std::memcmp(signal.data, input.data(), 2 * signal.length * sizeof(int16_t)), 0);
}
