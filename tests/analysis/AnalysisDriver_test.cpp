#include "analysis/AnalysisDriver.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "audio/FileFormat.h"
#include "dsp/StopFlags.h"
#include "support/Encoders.h"
#include "support/Signals.h"
#include "support/TestFiles.h"
#include "worker/Logger.h"

namespace {

using Bytes = std::vector<uint8_t>;

int vexcore(const std::vector<std::string>& args) {
    return test::runProgram(test::builtProgram("vexcore"), args);
}

// Eight seconds of two tones over noise with a pulse every 500 ms.
std::vector<int16_t> music(int32_t rate, uint32_t seed, double second = 1320.0) {
    auto a = test::sine(165.0, rate, 8.0, 12000.0);
    const auto b = test::sine(second, rate, 8.0, 5000.0);
    const auto n = test::noise(rate, 8.0, 2000.0, seed);
    for (size_t i = 0; i < a.size(); ++i) {
        const double env = 0.3 + 0.7 * std::exp(-static_cast<double>(i % (rate / 2)) / (0.04 * rate));
        a[i] = static_cast<int16_t>(std::lround(env * (a[i] + b[i]) + n[i]));
    }
    return a;
}

std::vector<int16_t> slots(const Bytes& record) {
    std::vector<int16_t> s;
    for (size_t i = 1; i + 1 < record.size(); i += 2)
        s.push_back(static_cast<int16_t>(record[i] << 8 | record[i + 1]));
    return s;
}

std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace

TEST(AnalyzeCommand, WritesTheRecordForEveryFormat) {
    test::TempDir dir;
    const auto mono = music(44100, 1);
    const auto right = music(44100, 2, 990.0);
    test::writeWav(dir.path("mono.wav"), mono, 44100, 1);
    test::writeWav(dir.path("stereo.wav"), test::interleave(mono, right), 44100, 2);
    test::writeFlac(dir.path("song.flac"), mono, 1, 44100);
    test::writeOggVorbis(dir.path("song.ogg"), test::interleave(mono, right), 2, 44100);

    for (const char* name : {"mono.wav", "stereo.wav", "song.flac", "song.ogg"}) {
        SCOPED_TRACE(name);
        const std::string out = dir.path(std::string(name) + ".out");
        ASSERT_EQ(vexcore({"analyze", dir.path(name), out}), 0);
        const Bytes record = test::readBytes(out);
        ASSERT_EQ(record.size(), 71u);
        EXPECT_EQ(record[0], 1);
        const auto s = slots(record);
        EXPECT_EQ(s[4], 3614);  // no tempo search yet: the starting 120 beats per minute
        if (std::string(name) == "mono.wav" || std::string(name) == "song.flac")
            EXPECT_EQ(s[0], -32767);  // no stereo difference
        else
            EXPECT_GT(s[0], -32767);
    }
    // The same samples losslessly in another format, or analysed again, give
    // the same record.
    EXPECT_EQ(test::readBytes(dir.path("mono.wav.out")), test::readBytes(dir.path("song.flac.out")));
    ASSERT_EQ(vexcore({"analyze", dir.path("mono.wav"), dir.path("again")}), 0);
    EXPECT_EQ(test::readBytes(dir.path("mono.wav.out")), test::readBytes(dir.path("again")));
}

TEST(AnalyzeCommand, UnusableSongsGiveStatusOneAndNoFile) {
    test::TempDir dir;
    test::writeWav(dir.path("song.xyz"), music(22050, 5), 22050, 1);  // unknown extension
    test::writeWav(dir.path("silent.wav"), std::vector<int16_t>(44100 * 3, 0), 44100, 1);
    test::writeWav(dir.path("hiss.wav"), std::vector<int16_t>(44100 * 3, 1), 44100, 2);
    test::writeBytes(dir.path("junk.wav"), Bytes(5000, 0x5A));
    test::writeBytes(dir.path("empty.flac"), Bytes());
    for (const char* name : {"song.xyz", "silent.wav", "hiss.wav", "junk.wav", "empty.flac", "missing.wav"}) {
        SCOPED_TRACE(name);
        const std::string out = dir.path(std::string(name) + ".out");
        EXPECT_EQ(vexcore({"analyze", dir.path(name), out}), 1);
        EXPECT_FALSE(test::fileExists(out));
    }
}

TEST(GenerateAnalysis, LogsWhichKindOfFailure) {
    registerAllFormats();
    test::TempDir dir;
    const std::string log = dir.path("log.txt");
    test::writeWav(dir.path("silent.wav"), std::vector<int16_t>(22050, 0), 22050, 1);
    test::writeWav(dir.path("song.wav"), music(22050, 6), 22050, 1);
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
    EXPECT_EQ(parameters[0], -32767);
    EXPECT_EQ(parameters[4], 3614);
}
