#include <gtest/gtest.h>

#include "Signals.h"
#include "TestFiles.h"
#include "audio/WaveFile.h"

namespace {

using Bytes = std::vector<uint8_t>;

int vextool(const std::vector<std::string>& args, std::string* out = nullptr, std::string* err = nullptr) {
    return test::runProgram(test::builtProgram("vextool"), args, out, err);
}

}  // namespace

TEST(Vextool, DumpsEachRecordBySize) {
    test::TempDir dir;
    Bytes validation{1, 0, 0, 0, 0, 0, 0x02, 0xCC, 0xA0, 0, 0, 0, 0, 0, 0, 0, 9};
    test::writeBytes(dir.path("v"), validation);
    std::string out;
    ASSERT_EQ(vextool({"dump", dir.path("v")}, &out), 0);
    EXPECT_EQ(out, "{\"record\":\"validation\",\"version\":1,\"decodedMs\":183456,\"preparedMs\":9,\"valid\":true}\n");

    Bytes analysis(71, 0);
    analysis[0] = 1;
    analysis[1] = 0xFF;
    analysis[2] = 0xFE;
    test::writeBytes(dir.path("a"), analysis);
    ASSERT_EQ(vextool({"dump", dir.path("a")}, &out), 0);
    EXPECT_NE(out.find("\"parameters\":[-2,0,"), std::string::npos) << out;

    Bytes print(565, 0);
    print[0] = 1;
    print[561] = 3;
    print[562] = 41;
    test::writeBytes(dir.path("p"), print);
    ASSERT_EQ(vextool({"dump", dir.path("p")}, &out), 0);
    EXPECT_NE(out.find("\"semitones\":[41,3,0,0]"), std::string::npos) << out;
}

TEST(Vextool, DumpRejectsBadRecords) {
    test::TempDir dir;
    std::string err;
    test::writeBytes(dir.path("short"), Bytes(16, 1));
    EXPECT_EQ(vextool({"dump", dir.path("short")}, nullptr, &err), 1);
    EXPECT_NE(err.find("16 bytes"), std::string::npos) << err;
    Bytes wrongVersion(17, 0);
    wrongVersion[0] = 2;
    test::writeBytes(dir.path("v2"), wrongVersion);
    EXPECT_EQ(vextool({"dump", dir.path("v2")}, nullptr, &err), 1);
    EXPECT_NE(err.find("Invalid version in validation record: 2"), std::string::npos) << err;
    EXPECT_EQ(vextool({"dump", dir.path("absent")}, nullptr, &err), 1);
    EXPECT_EQ(vextool({"dump"}), 2);
}

TEST(Vextool, DecodeAndPrepWriteCanonicalWave) {
    test::TempDir dir;
    const auto left = test::sine(440, 44100, 2.0, 12000.0), right = test::sine(660, 44100, 2.0, 6000.0);
    const auto stereo = test::interleave(left, right);
    test::writeWav(dir.path("in.wav"), stereo, 44100, 2);

    std::string out;
    ASSERT_EQ(vextool({"decode", dir.path("in.wav"), dir.path("dec.wav")}, &out), 0);
    const Bytes original = test::readBytes(dir.path("in.wav"));
    EXPECT_EQ(test::readBytes(dir.path("dec.wav")), original);  // the loaded signal, untouched
    ASSERT_EQ(vextool({"decode", dir.path("in.wav"), dir.path("cut.wav"), "--max-ms", "500"}, &out), 0);
    EXPECT_EQ(test::readBytes(dir.path("cut.wav")).size(), 44u + 22050u * 4);

    ASSERT_EQ(vextool({"prep", dir.path("in.wav"), dir.path("prep.wav")}, &out), 0);
    EXPECT_NE(out.find("\"wasStereo\":true"), std::string::npos) << out;
    EXPECT_NE(out.find("\"stereoCorrelation\":"), std::string::npos) << out;
    EXPECT_NE(out.find("\"rate\":22050"), std::string::npos) << out;
    WaveFile prepared;
    ASSERT_TRUE(prepared.open(dir.path("prep.wav").c_str()));
    EXPECT_FALSE(prepared.isStereo());
    EXPECT_EQ(prepared.sampleRate(), 22050);
    EXPECT_NEAR(prepared.sampleCount(), 44100, 250);

    ASSERT_EQ(vextool({"prep", dir.path("in.wav"), dir.path("p44.wav"), "--rate", "44100", "--threshold", "50"}, &out), 0);
    EXPECT_NE(out.find("\"rate\":44100"), std::string::npos) << out;
    EXPECT_EQ(vextool({"prep", dir.path("in.wav"), dir.path("x.wav"), "--rate", "8000"}), 2);

    std::string err;
    test::writeWav(dir.path("silent.wav"), std::vector<int16_t>(1000, 0), 8000, 1);
    EXPECT_EQ(vextool({"prep", dir.path("silent.wav"), dir.path("s.wav")}, nullptr, &err), 1);
    EXPECT_NE(err.find("Signal has silence only"), std::string::npos) << err;
    EXPECT_EQ(vextool({"prep", dir.path("nothing.xyz"), dir.path("s.wav")}, nullptr, &err), 1);
}
