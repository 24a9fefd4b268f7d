#include <gtest/gtest.h>

#include <cmath>

#include "Signals.h"
#include "TestFiles.h"
#include "analysis/SlotTable.h"
#include "audio/WaveFile.h"

namespace {

using Bytes = std::vector<uint8_t>;

int vextool(const std::vector<std::string>& args, std::string* out = nullptr, std::string* err = nullptr) {
    return test::runProgram(test::builtProgram("vextool"), args, out, err);
}

}  // namespace

TEST(Vextool, DumpsEachRecordBySizeAndRejectsOthers) {
    test::TempDir dir;
    Bytes analysis(71, 0), print(565, 0), wrongVersion(17, 0);
    analysis[0] = print[0] = 1;
    analysis[1] = 0xFF, analysis[2] = 0xFE;
    print[561] = 3, print[562] = 41;
    wrongVersion[0] = 2;
    const struct { Bytes record; int status; std::string expected; } cases[] = {
        {{1, 0, 0, 0, 0, 0, 0x02, 0xCC, 0xA0, 0, 0, 0, 0, 0, 0, 0, 9}, 0,
         "{\"record\":\"validation\",\"version\":1,\"decodedMs\":183456,\"preparedMs\":9,\"valid\":true}\n"},
        {analysis, 0, "\"parameters\":[-2,0,"},
        {print, 0, "\"semitones\":[41,3,0,0]"},  // sorted on reading
        {Bytes(16, 1), 1, "16 bytes"},
        {wrongVersion, 1, "Invalid version in validation record: 2"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        test::writeBytes(dir.path("r"), c.record);
        std::string out, err;
        ASSERT_EQ(vextool({"dump", dir.path("r")}, &out, &err), c.status);
        EXPECT_NE((c.status ? err : out).find(c.expected), std::string::npos) << out << err;
    }
}

TEST(Vextool, DecodeAndPrepWriteCanonicalWave) {
    test::TempDir dir;
    const auto stereo = test::interleave(test::sine(440, 44100, 2.0, 12000.0), test::sine(660, 44100, 2.0, 6000.0));
    test::writeWav(dir.path("in.wav"), stereo, 44100, 2);

    std::string out, err;
    ASSERT_EQ(vextool({"decode", dir.path("in.wav"), dir.path("dec.wav")}, &out), 0);
    EXPECT_EQ(test::readBytes(dir.path("dec.wav")), test::readBytes(dir.path("in.wav")));  // untouched
    ASSERT_EQ(vextool({"decode", dir.path("in.wav"), dir.path("cut.wav"), "--max-ms", "500"}, &out), 0);
    EXPECT_EQ(test::readBytes(dir.path("cut.wav")).size(), 44u + 22050u * 4);

    ASSERT_EQ(vextool({"prep", dir.path("in.wav"), dir.path("prep.wav")}, &out), 0);
    for (const char* field : {"\"wasStereo\":true", "\"stereoCorrelation\":", "\"rate\":22050"})
        EXPECT_NE(out.find(field), std::string::npos) << out;
    WaveFile prepared;
    ASSERT_TRUE(prepared.open(dir.path("prep.wav").c_str()));
    EXPECT_FALSE(prepared.isStereo());
    EXPECT_EQ(prepared.sampleRate(), 22050);
    EXPECT_NEAR(prepared.sampleCount(), 44100, 250);

    test::writeWav(dir.path("silent.wav"), std::vector<int16_t>(1000, 0), 8000, 1);
    EXPECT_EQ(vextool({"prep", dir.path("silent.wav"), dir.path("s.wav")}, nullptr, &err), 1);
    EXPECT_NE(err.find("Signal has silence only"), std::string::npos) << err;
}

// The raw features it prints are the ones the record's slots normalise.
TEST(Vextool, FeaturesAreWhatTheRecordNormalises) {
    test::TempDir dir;
    test::writeWav(dir.path("song.wav"), test::music(22050, 12.0, 3), 22050, 1);
    ASSERT_EQ(test::runVexcore({"analyze", dir.path("song.wav"), dir.path("out")}), 0);
    const Bytes record = test::readBytes(dir.path("out"));
    ASSERT_EQ(record.size(), 71u);
    std::string out;
    ASSERT_EQ(vextool({"features", dir.path("song.wav")}, &out), 0);
    for (const char* key : {"\"tempo\":{\"bpm\":", "\"style\":{\"best\":", "\"repeatCoverage\":", "\"13\":"})
        EXPECT_NE(out.find(key), std::string::npos) << key;
    size_t at = 0;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        SCOPED_TRACE(slot);
        at = out.find("\"value\":", at);
        ASSERT_NE(at, std::string::npos);
        at += 8;
        const std::string text = out.substr(at, out.find(',', at) - at);
        const double value = text == "null" ? std::nan("") : std::stod(text);
        const SlotEntry& s = kSlotTable[slot];
        EXPECT_EQ(NormalizeSlot(value, s.offset, s.scale), int16_t(record[1 + 2 * slot] << 8 | record[2 + 2 * slot]));
    }
}
