#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

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
