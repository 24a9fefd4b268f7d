#include <gtest/gtest.h>

#include "Signals.h"
#include "TestFiles.h"

namespace {

using Bytes = std::vector<uint8_t>;

int vexcore(const std::vector<std::string>& args, std::string* out = nullptr) {
    return test::runProgram(test::builtProgram("vexcore"), args, out);
}

}  // namespace

TEST(Worker, AnythingButACommandPrintsTheBanner) {
    test::TempDir dir;
    const std::vector<std::vector<std::string>> lines = {
        {}, {"analyze"}, {"validate", "a.wav"}, {"Analyze", "a.wav", dir.path("o")},
        {"validate", "a.wav", dir.path("o"), "extra"}, {"help", "x", "y"}};
    for (const auto& args : lines) {
        std::string out;
        EXPECT_EQ(vexcore(args, &out), 0);
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
        EXPECT_EQ(out.back(), '\n');
    }
    EXPECT_FALSE(test::fileExists(dir.path("o")));
}

TEST(Worker, UnknownFormats) {
    test::TempDir dir;
    test::writeBytes(dir.path("song.xyz"), Bytes(100, 1));
    const std::string out = dir.path("out");

    EXPECT_EQ(vexcore({"validate", dir.path("song.xyz"), out}), 0);
    Bytes empty(17, 0);
    empty[0] = 1;
    EXPECT_EQ(test::readBytes(out), empty);

    EXPECT_EQ(vexcore({"analyze", dir.path("song.xyz"), dir.path("a")}), 1);
    EXPECT_FALSE(test::fileExists(dir.path("a")));
    EXPECT_EQ(vexcore({"fp", dir.path("song.xyz"), dir.path("f")}), 1001 & 0xFF);
    EXPECT_FALSE(test::fileExists(dir.path("f")));
}

TEST(Worker, ValidateReportsBothDurations) {
    test::TempDir dir;
    // 1 s of silence, 3 s of tone, 1 s of silence, 44.1 kHz mono.
    std::vector<int16_t> x(44100, 0);
    const auto tone = test::sine(440, 44100, 3.0);
    x.insert(x.end(), tone.begin(), tone.end());
    x.resize(x.size() + 44100, 0);
    test::writeWav(dir.path("song.wav"), x, 44100, 1);
    const std::string out = dir.path("out");
    ASSERT_EQ(vexcore({"validate", dir.path("song.wav"), out}), 0);
    const Bytes rec = test::readBytes(out);
    ASSERT_EQ(rec.size(), 17u);
    EXPECT_EQ(rec[0], 1);
    EXPECT_EQ(test::be64(rec, 1), 5000);
    EXPECT_NEAR(test::be64(rec, 9), 3000, 15);

    // A file the reader cannot open: load fails, both values 0, status 0.
    test::writeBytes(dir.path("broken.wav"), Bytes(60, 7));
    ASSERT_EQ(vexcore({"validate", dir.path("broken.wav"), out}), 0);
    Bytes zeros(17, 0);
    zeros[0] = 1;
    EXPECT_EQ(test::readBytes(out), zeros);

    // A header with a sample rate of 0 has no finite duration: recorded as none.
    test::writeWav(dir.path("norate.wav"), test::sine(440, 8000, 1.0), 0, 1);
    ASSERT_EQ(vexcore({"validate", dir.path("norate.wav"), out}), 0);
    EXPECT_EQ(test::readBytes(out), zeros);

    // Silence only: decoded duration kept, prepared duration 0, still status 0.
    test::writeWav(dir.path("silent.wav"), std::vector<int16_t>(22050, 0), 22050, 1);
    ASSERT_EQ(vexcore({"validate", dir.path("silent.wav"), out}), 0);
    const Bytes silent = test::readBytes(out);
    EXPECT_EQ(test::be64(silent, 1), 1000);
    EXPECT_EQ(test::be64(silent, 9), 0);
}

TEST(Worker, UnwritableOutput) {
    test::TempDir dir;
    test::writeWav(dir.path("song.wav"), test::sine(440, 22050, 1.0), 22050, 1);
    const std::string nowhere = dir.path("missing/out");
    EXPECT_EQ(vexcore({"validate", dir.path("song.wav"), nowhere}), 3);
    EXPECT_FALSE(test::fileExists(nowhere));
}
