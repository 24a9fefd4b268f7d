#include "audio/FLACFile.h"

#include <gtest/gtest.h>

#include "Encoders.h"
#include "ReaderProbe.h"
#include "Signals.h"
#include "TestFiles.h"
#include "audio/FileFormat.h"
#include "dsp/SignalObj.h"

TEST(FLACFile, DeliversTheLowSixteenBitsOfEverySampleInterleaved) {
    test::TempDir dir;
    for (const auto& [channels, rate, bits] : {std::tuple{1, 44100, 16}, {2, 48000, 16}, {2, 44100, 24}, {1, 48000, 8}}) {
        SCOPED_TRACE(testing::Message() << channels << " ch " << rate << " Hz " << bits << " bit");
        // Seeded values filling `bits` bits, both extremes first; 10001 frames: no whole number of blocks.
        const int32_t top = (1 << (bits - 1)) - 1;
        std::vector<int32_t> input(10001 * channels);
        uint32_t seed = rate + bits;
        for (auto& v : input) {
            seed = seed * 1664525u + 1013904223u;
            v = int32_t(seed >> 8) % (top + 1) * ((seed & 1) ? -1 : 1);
        }
        input[0] = top, input[1] = -top - 1;
        test::writeFlac(dir.path("x.flac"), input, channels, rate, bits);
        std::vector<int16_t> want(input.size());
        for (size_t i = 0; i < input.size(); ++i) want[i] = static_cast<int16_t>(input[i] & 0xFFFF);

        const auto r = test::readThrough<FLACFile>(dir.path("x.flac"));
        ASSERT_TRUE(r.opened && r.readOk);
        EXPECT_EQ(r.count, static_cast<int32_t>(want.size()));
        EXPECT_EQ(r.rate, rate);
        EXPECT_EQ(r.stereo, channels == 2);
        EXPECT_EQ(test::commonPrefix(r.values, want), want.size());
        EXPECT_TRUE(test::unwrittenFrom(r.values, want.size()));
    }
}

TEST(FLACFile, CountComesFromStreamInfoAndIsNeverExceeded) {
    test::TempDir dir;
    const std::string path = dir.path("x.flac");
    const auto input = test::noise(70000, 1.0, 20000, 7);
    // Announced fewer than decoded; not recorded: rate x 600 values, not times
    // the channel count, with the file beyond that or within it.
    for (const auto& [rate, total, count, written] : {std::tuple{44100, 12345, 24690, 24690},
                                                     {100, 0, 60000, 60000}, {48000, 0, 28800000, 70000}}) {
        SCOPED_TRACE(rate);
        test::writeFlac(path, input, 2, rate);
        test::setFlacTotalSamples(path, uint64_t(total));
        const auto r = test::readThrough<FLACFile>(path);
        ASSERT_EQ(r.count, count);
        EXPECT_EQ(test::commonPrefix(r.values, input), size_t(written));
        EXPECT_TRUE(test::unwrittenFrom(r.values, size_t(written)));
    }
}

TEST(FLACFile, LoadsTheFileOfExactlyTheTrackName) {
    registerAllFormats();
    test::TempDir dir;
    const auto input = test::noise(2 * 48000, 1.0, 20000, 12);  // one second of stereo
    const std::string path = dir.path("disc.flac#2"), other = dir.path("disc.flac#3");
    test::writeFlac(path, input, 2, 48000);
    const auto* format = findFormat(path.c_str(), path.size());
    SignalObj whole, untouched, odd;
    ASSERT_TRUE(format->load(whole, path.c_str(), -1));
    EXPECT_EQ(whole.rate, 48000);
    EXPECT_TRUE(whole.wasStereo);
    EXPECT_EQ(std::vector<int16_t>(whole.data, whole.data + whole.elementCount), input);
    EXPECT_FALSE(format->load(untouched, other.c_str(), -1));
    EXPECT_EQ(untouched.data, nullptr);

    // Three channels count as stereo: count / 2 two-value frames.
    test::writeFlac(dir.path("three.flac"), std::vector<int16_t>(input.begin(), input.begin() + 3003), 3, 44100);
    ASSERT_TRUE(loadFLACFile(odd, dir.path("three.flac").c_str(), -1));
    ASSERT_EQ(odd.length, 3003 / 2);
    EXPECT_TRUE(std::equal(odd.data, odd.data + odd.elementCount, input.begin()));
}

// Damage keeps the announced count; decoding stops at a cut and resumes after a hole.
TEST(FLACFile, DamagedOrNotTwoHalvesDecodeAsOne) {
    test::TempDir dir;
    const auto input = test::noise(44100, 25.0, 12000, 4);
    const auto stereo = test::interleave(input, input);
    test::writeFlac(dir.path("long.flac"), stereo, 2, 44100);
    for (const auto& [name, file] : test::damagedVariants(test::readBytes(dir.path("long.flac")))) {
        SCOPED_TRACE(name);
        test::writeBytes(dir.path("x.flac"), file);
        const auto [one, two] = test::readOnOneAndTwoCores<FLACFile>(dir.path("x.flac"));
        EXPECT_TRUE(test::sameDelivery(one, two));
        ASSERT_TRUE(one.opened && one.readOk);
        ASSERT_EQ(one.count, static_cast<int32_t>(stereo.size()));
        const size_t k = test::commonPrefix(one.values, stereo);
        EXPECT_GE(k, name == "clean" ? stereo.size() : stereo.size() / 4);
        EXPECT_TRUE(test::unwrittenFrom(one.values, name == "cut" ? k : stereo.size()));
        EXPECT_TRUE(name == "cut" || one.values[stereo.size() - 1] == stereo.back());
    }
}
