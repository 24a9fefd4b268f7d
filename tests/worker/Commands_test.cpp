#include <gtest/gtest.h>

#include <algorithm>

#include "Encoders.h"
#include "Signals.h"
#include "TestFiles.h"

using Bytes = std::vector<uint8_t>;

TEST(Worker, AnythingButACommandPrintsTheBanner) {
    test::TempDir dir;
    const std::vector<std::vector<std::string>> lines = {
        {}, {"analyze"}, {"validate", "a.wav"}, {"Analyze", "a.wav", dir.path("o")},
        {"validate", "a.wav", dir.path("o"), "extra"}, {"help", "x", "y"}};
    for (const auto& args : lines) {
        std::string out;
        EXPECT_EQ(test::runVexcore(args, &out), 0);
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
        EXPECT_EQ(out.back(), '\n');
    }
    EXPECT_FALSE(test::fileExists(dir.path("o")));
}

// Status 0, a version-1 record and not a word whatever the file: what has no
// format, does not decode or has no sample rate (no finite duration) lasts 0 ms.
// A FLAC file cut in half keeps its declared 8 s, and the two channels are
// prepared as the first `length` values, which its 4 s of music fill.
TEST(Worker, ValidateReportsBothDurations) {
    test::TempDir dir;
    // 1 s of silence, 3 s of tone, 1 s of silence at 44.1 kHz.
    std::vector<int16_t> x(44100, 0);
    const auto tone = test::sine(440, 44100, 3.0);
    x.insert(x.end(), tone.begin(), tone.end());
    x.resize(x.size() + 44100, 0);
    test::writeWav(dir.path("song.wav"), x, 44100, 1);
    test::writeBytes(dir.path("song.xyz"), Bytes(100, 1));
    test::writeBytes(dir.path("broken.wav"), Bytes(60, 7));
    test::writeWav(dir.path("norate.wav"), test::sine(440, 8000, 1.0), 0, 1);
    test::writeWav(dir.path("silent.wav"), std::vector<int16_t>(22050, 0), 22050, 1);
    test::writeFlac(dir.path("half.flac"), test::interleave(test::music(44100, 8.0, 1), test::music(44100, 8.0, 2)), 2, 44100);
    const Bytes flac = test::readBytes(dir.path("half.flac"));
    test::writeBytes(dir.path("half.flac"), Bytes(flac.begin(), flac.begin() + long(flac.size() / 2)));
    const struct { const char* name; int64_t decodedMs, preparedMs, tolerance; } cases[] = {
        {"song.wav", 5000, 3000, 15}, {"song.xyz", 0, 0, 0},   {"broken.wav", 0, 0, 0},
        {"norate.wav", 0, 0, 0},      {"silent.wav", 1000, 0, 0}, {"half.flac", 8000, 8000, 50}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out = dir.path(std::string(c.name) + ".out");
        std::string said, err;
        ASSERT_EQ(test::runVexcore({"validate", dir.path(c.name), out}, &said, &err), 0);
        EXPECT_EQ(said + err, "");
        const Bytes record = test::readBytes(out);
        ASSERT_EQ(record.size(), 17u);
        EXPECT_EQ(record[0], 1);
        EXPECT_EQ(test::be64(record, 1), c.decodedMs);
        EXPECT_NEAR(test::be64(record, 9), c.preparedMs, c.tolerance);
    }
}

// Too short for a print (10), no format for it (1001 as the shell sees it), an
// unwritable output (3): none leaves a file. Analyze's status 1 is AnalyzeCommand's.
TEST(Worker, FailuresLeaveNoRecord) {
    test::TempDir dir;
    test::writeBytes(dir.path("song.xyz"), Bytes(100, 1));
    test::writeWav(dir.path("song.wav"), test::sine(440, 22050, 1.0), 22050, 1);
    for (const auto& [audio, status] : {std::pair{"song.wav", 10}, {"song.xyz", 1001 & 0xFF}}) {
        std::string said, err;
        EXPECT_EQ(test::runVexcore({"fp", dir.path(audio), dir.path("f")}, &said, &err), status) << audio;
        EXPECT_EQ(said + err, "");
        EXPECT_FALSE(test::fileExists(dir.path("f")));
    }
    const std::string nowhere = dir.path("missing/out");
    EXPECT_EQ(test::runVexcore({"validate", dir.path("song.wav"), nowhere}), 3);
    EXPECT_FALSE(test::fileExists(nowhere));
}
