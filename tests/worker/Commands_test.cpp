#include <gtest/gtest.h>

#include <algorithm>

#include "Signals.h"
#include "TestFiles.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A validation record: version 1, then both durations.
Bytes validation(int64_t decodedMs, int64_t preparedMs) {
    Bytes r{1};
    for (int64_t v : {decodedMs, preparedMs})
        for (int shift = 56; shift >= 0; shift -= 8) r.push_back(uint8_t(v >> shift));
    return r;
}

}  // namespace

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

TEST(Worker, NoFormatForTheFile) {
    test::TempDir dir;
    test::writeBytes(dir.path("song.xyz"), Bytes(100, 1));
    EXPECT_EQ(test::runVexcore({"validate", dir.path("song.xyz"), dir.path("v")}), 0);
    EXPECT_EQ(test::readBytes(dir.path("v")), validation(0, 0));  // analyze's status 1 is AnalyzeCommand's
    EXPECT_EQ(test::runVexcore({"fp", dir.path("song.xyz"), dir.path("f")}), 1001 & 0xFF);
    EXPECT_FALSE(test::fileExists(dir.path("f")));
}

TEST(Worker, ValidateReportsBothDurations) {
    test::TempDir dir;
    // 1 s of silence, 3 s of tone, 1 s of silence at 44.1 kHz.
    std::vector<int16_t> x(44100, 0);
    const auto tone = test::sine(440, 44100, 3.0);
    x.insert(x.end(), tone.begin(), tone.end());
    x.resize(x.size() + 44100, 0);
    test::writeWav(dir.path("song.wav"), x, 44100, 1);
    ASSERT_EQ(test::runVexcore({"validate", dir.path("song.wav"), dir.path("out")}), 0);
    const Bytes record = test::readBytes(dir.path("out"));
    ASSERT_EQ(record.size(), 17u);
    EXPECT_EQ(test::be64(record, 1), 5000);
    EXPECT_NEAR(test::be64(record, 9), 3000, 15);

    // Undecodable, no sample rate (no finite duration), silence only: all status 0.
    test::writeBytes(dir.path("broken.wav"), Bytes(60, 7));
    test::writeWav(dir.path("norate.wav"), test::sine(440, 8000, 1.0), 0, 1);
    test::writeWav(dir.path("silent.wav"), std::vector<int16_t>(22050, 0), 22050, 1);
    for (const auto& [name, expected] : {std::pair{"broken.wav", validation(0, 0)},
                                         std::pair{"norate.wav", validation(0, 0)},
                                         std::pair{"silent.wav", validation(1000, 0)}}) {
        const std::string out = dir.path(std::string(name) + ".out");
        ASSERT_EQ(test::runVexcore({"validate", dir.path(name), out}), 0) << name;
        EXPECT_EQ(test::readBytes(out), expected) << name;
    }
}

TEST(Worker, UnwritableOutput) {
    test::TempDir dir;
    test::writeWav(dir.path("song.wav"), test::sine(440, 22050, 1.0), 22050, 1);
    const std::string nowhere = dir.path("missing/out");
    EXPECT_EQ(test::runVexcore({"validate", dir.path("song.wav"), nowhere}), 3);
    EXPECT_FALSE(test::fileExists(nowhere));
}
