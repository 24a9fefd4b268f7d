#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio/mp3/MP3Decoder.h"
#include "support/MP3Fixtures.h"
#include "support/TestFiles.h"

namespace {

const std::string kDir = std::string(VEX_CONFORMANCE_DIR) + "/mpeg-audio";

#define REQUIRE_VECTORS()                              \
    if (!test::fileExists(kDir + "/MANIFEST.tsv"))     \
    GTEST_SKIP() << "MPEG audio conformance vectors not found in " << kDir

test::Mp3Decode decodeVector(const std::string& name) { return test::decodeMp3File(kDir + "/" + name + ".bit"); }

// The first samplesPerChannel samples of each channel against the reference.
void expectMatchesReference(const test::Mp3Decode& d, const std::string& name, size_t samplesPerChannel) {
    const std::vector<int16_t> ref = test::readPcm16(kDir + "/" + name + ".pcm");
    const size_t n = samplesPerChannel * size_t(d.channels);
    ASSERT_GE(d.pcm.size(), n);
    ASSERT_GE(ref.size(), n);
    test::expectWithinConformanceBounds(d.pcm.data(), ref.data(), n, name);
}

}  // namespace

// Every standard vector but l3-he_mode (below): Layers I, II and III, MPEG-1
// and the low sampling frequencies, every channel mode.
TEST(MP3Conformance, StandardVectorsMatchTheReference) {
    REQUIRE_VECTORS();
    int compared = 0;
    for (const auto& row : test::readTsv(kDir + "/MANIFEST.tsv")) {
        const std::string name = row.at("name").substr(0, row.at("name").size() - 4);
        if (row.at("class") != "conformance" || name == "l3-he_mode") continue;
        SCOPED_TRACE(name);
        const test::Mp3Decode d = decodeVector(name);
        ASSERT_TRUE(d.ok) << d.error;
        EXPECT_EQ(d.rate, std::stoi(row.at("sample_rate")));
        EXPECT_EQ(d.channels, std::stoi(row.at("channels")));
        expectMatchesReference(d, name, std::stoul(row.at("ref_valid_samples_per_channel")));
        ++compared;
    }
    EXPECT_EQ(compared, 22);
}

// Single frames among tags are found and decode like the reference; a frame
// carrying only an encoder's info tag is an ordinary frame to us, whose
// empty main data decodes to silence.
TEST(MP3Conformance, SingleFramesAmongTagsDecode) {
    REQUIRE_VECTORS();
    for (const char* name : {"l3-nonstandard-id3v2", "l3-nonstandard-id3v1", "l3-nonstandard-apetag",
                             "l3-nonstandard-id3v1-apetag", "l3-nonstandard-vbrtag-only",
                             "l3-nonstandard-vbrtag-empty", "l3-nonstandard-vbrtag-oob-read"}) {
        SCOPED_TRACE(name);
        const test::Mp3Decode d = decodeVector(name);
        ASSERT_TRUE(d.ok) << d.error;
        ASSERT_EQ(d.pcm.size(), size_t(d.channels) * 1152u);
        if (std::string(name).find("vbrtag") == std::string::npos)
            expectMatchesReference(d, name, 1152);
        else
            EXPECT_EQ(std::count(d.pcm.begin(), d.pcm.end(), int16_t(0)), 2 * 1152);
    }
}

// One damaged byte (Layer III side information, Layer II allocation): the
// frames before the damage still match, and the stream decodes on.
TEST(MP3Conformance, DamagedStreamsKeepTheirEarlierFrames) {
    REQUIRE_VECTORS();
    const test::Mp3Decode l3 = decodeVector("l3-nonstandard-compl-sideinfo-bigvalues");
    ASSERT_TRUE(l3.ok) << l3.error;
    EXPECT_EQ(l3.pcm.size(), 216u * 1152u);  // every whole frame; the 217th is truncated
    expectMatchesReference(l3, "l3-nonstandard-compl-sideinfo-bigvalues", 190 * 1152);

    const test::Mp3Decode l2 = decodeVector("l2-nonstandard-test32-size");
    ASSERT_TRUE(l2.ok) << l2.error;
    EXPECT_EQ(l2.channels, 2);
    expectMatchesReference(l2, "l2-nonstandard-test32-size", 12 * 1152);
}

// The first frame is single-channel and later ones are not: the search
// passes over the two-channel frames, and inside their data it meets a
// header-like word with reserved layer bits, which stops the decoding with
// the reader's text exception.
TEST(MP3Conformance, ModeChangeEndsInTheLayerException) {
    REQUIRE_VECTORS();
    const test::Mp3Decode d = decodeVector("l3-he_mode");
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.error, "unknown layer identifier found!\n");
}

// A Layer III stream split between two decoders, the second started a few
// frames early, gives the PCM of one decoder bit for bit: every vector with
// its split forced, and a long lame stream with short blocks and joint
// stereo at its natural split. Where the second decoder has not settled,
// the first one goes on alone, which gives the same PCM too.
TEST(MP3Conformance, TwoHalvesDecodeAsOne) {
    auto decode = [](const std::vector<uint8_t>& bytes, bool twoHalves, bool* split) {
        test::ScopedThreads threads(!twoHalves);
        mp3::MP3Decoder decoder;
        mp3::MPEG_Args args;
        args.data = bytes.data();
        args.size = bytes.size();
        args.splitFromFrames = 8;
        std::vector<int16_t> pcm;
        try {
            if (decoder.scan(args)) {
                pcm.resize(size_t(decoder.storedCount()));
                decoder.decodeInto(pcm.data(), int64_t(pcm.size()));
                EXPECT_EQ(decoder.storedCount(), decoder.sampleCount());
            }
        } catch (...) {
            pcm.assign(1, 12345);  // both ways must throw
        }
        if (split) *split = decoder.decodedInTwo();
        return pcm;
    };
    std::vector<std::pair<std::string, std::vector<uint8_t>>> streams;
    if (test::fileExists(kDir + "/MANIFEST.tsv"))
        for (const auto& row : test::readTsv(kDir + "/MANIFEST.tsv"))
            if (row.at("name").rfind("l3-", 0) == 0 || row.at("name").rfind("M2L3", 0) == 0)
                streams.emplace_back(row.at("name"), test::readBytes(kDir + "/" + row.at("name")));
    test::TempDir dir;
    const std::string wav = dir.path("in.wav"), mp3 = dir.path("in.mp3");
    // Clicks between tones make the encoder switch to short blocks.
    if (std::system(("sox -n -r 44100 -c 2 -b 16 " + wav +
                     " synth 20 square 3 sine 440 2>/dev/null && "
                     "lame --quiet -b 128 -m j " + wav + " " + mp3).c_str()) == 0)
        streams.emplace_back("lame", test::readBytes(mp3));
    ASSERT_FALSE(streams.empty()) << "neither conformance vectors nor lame and sox";

    int splits = 0;
    for (const auto& s : streams) {
        SCOPED_TRACE(s.first);
        bool split = false;
        const std::vector<int16_t> one = decode(s.second, false, nullptr);
        const std::vector<int16_t> two = decode(s.second, true, &split);
        EXPECT_TRUE(one == two);
        splits += split;
    }
    EXPECT_GE(splits, int(streams.size()) / 2);
}
