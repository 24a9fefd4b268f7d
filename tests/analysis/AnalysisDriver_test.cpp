#include "analysis/AnalysisDriver.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "audio/FileFormat.h"
#include "dsp/StopFlags.h"
#include "support/Encoders.h"
#include "support/Signals.h"
#include "support/TestFiles.h"
#include "worker/Logger.h"

namespace {

std::string readText(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

TEST(AnalyzeCommand, WritesTheRecordForEveryFormat) {
    test::TempDir dir;
    const auto mono = test::music(44100, 8.0, 1);
    const auto right = test::music(44100, 8.0, 2);
    test::writeWav(dir.path("mono.wav"), mono, 44100, 1);
    test::writeWav(dir.path("stereo.wav"), test::interleave(mono, right), 44100, 2);
    test::writeFlac(dir.path("song.flac"), mono, 1, 44100);
    test::writeOggVorbis(dir.path("song.ogg"), test::interleave(mono, right), 2, 44100);

    for (const char* name : {"mono.wav", "stereo.wav", "song.flac", "song.ogg"}) {
        SCOPED_TRACE(name);
        const std::string out = dir.path(std::string(name) + ".out");
        ASSERT_EQ(test::runVexcore({"analyze", dir.path(name), out}), 0);
        const auto record = test::readBytes(out);
        ASSERT_EQ(record.size(), 71u);
        EXPECT_EQ(record[0], 1);
        // Slot 0, big-endian after the version byte: -32767 is no stereo difference.
        const int16_t stereoSlot = static_cast<int16_t>(record[1] << 8 | record[2]);
        if (std::string(name) == "mono.wav" || std::string(name) == "song.flac")
            EXPECT_EQ(stereoSlot, -32767);
        else
            EXPECT_GT(stereoSlot, -32767);
    }
    // The same samples losslessly in another format give the same record.
    EXPECT_EQ(test::readBytes(dir.path("mono.wav.out")), test::readBytes(dir.path("song.flac.out")));
}

TEST(AnalyzeCommand, UnusableSongsGiveStatusOneAndNoFile) {
    test::TempDir dir;
    test::writeWav(dir.path("song.xyz"), test::music(22050, 8.0, 5), 22050, 1);  // unknown extension
    test::writeWav(dir.path("silent.wav"), std::vector<int16_t>(44100 * 3, 0), 44100, 1);
    test::writeWav(dir.path("hiss.wav"), std::vector<int16_t>(44100 * 3, 1), 44100, 2);
    test::writeBytes(dir.path("junk.wav"), std::vector<uint8_t>(5000, 0x5A));
    for (const char* name : {"song.xyz", "silent.wav", "hiss.wav", "junk.wav", "missing.wav"}) {
        SCOPED_TRACE(name);
        const std::string out = dir.path(std::string(name) + ".out");
        EXPECT_EQ(test::runVexcore({"analyze", dir.path(name), out}), 1);
        EXPECT_FALSE(test::fileExists(out));
    }
}

TEST(GenerateAnalysis, LogsWhichKindOfFailureAndFillsTheSlots) {
    registerAllFormats();
    test::TempDir dir;
    const std::string log = dir.path("log.txt");
    test::writeWav(dir.path("silent.wav"), std::vector<int16_t>(22050, 0), 22050, 1);
    test::writeWav(dir.path("song.wav"), test::music(22050, 8.0, 6), 22050, 1);
    int16_t parameters[35] = {};

    logEnabled = true;
    logFile = log.c_str();
    EXPECT_FALSE(generateAnalysis(dir.path("silent.wav").c_str(), parameters));
    EXPECT_EQ(readText(log), "Exception generating analysis (1)\n");

    // The quick-shutdown text is not a signal error.
    gQuickShutdown = true;
    EXPECT_FALSE(generateAnalysis(dir.path("song.wav").c_str(), parameters));
    gQuickShutdown = false;
    EXPECT_EQ(readText(log), "Exception generating analysis (1)\nException generating analysis (2)\n");

    // A stop request fails the analysis without an exception, so nothing is logged.
    gStopAnalysis = true;
    EXPECT_FALSE(generateAnalysis(dir.path("song.wav").c_str(), parameters));
    gStopAnalysis = false;
    EXPECT_EQ(readText(log), "Exception generating analysis (1)\nException generating analysis (2)\n");

    logEnabled = false;
    EXPECT_FALSE(generateAnalysis(dir.path("silent.wav").c_str(), parameters));
    logFile = nullptr;
    EXPECT_EQ(readText(log), "Exception generating analysis (1)\nException generating analysis (2)\n");

    EXPECT_TRUE(generateAnalysis(dir.path("song.wav").c_str(), parameters));
    // A computed tempo: about 40 to 190 beats per minute.
    EXPECT_GT(parameters[4], -27100);
    EXPECT_LT(parameters[4], 30400);

    // A song of one level frame: its median is the largest level (the top of
    // slot 25), and no 250 ms low-band frame fits, so slot 11 has no value.
    test::writeWav(dir.path("blip.wav"), test::sine(440.0, 22050, 0.1, 20000.0), 22050, 1);
    ASSERT_TRUE(generateAnalysis(dir.path("blip.wav").c_str(), parameters));
    EXPECT_EQ(parameters[25], 32767);
    EXPECT_EQ(parameters[11], -32768);
}
