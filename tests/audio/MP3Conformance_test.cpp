#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "support/MP3Fixtures.h"
#include "support/TestFiles.h"

namespace {

const std::string kDir = std::string(VEX_CONFORMANCE_DIR) + "/mpeg-audio";

using Row = std::map<std::string, std::string>;

std::vector<Row> manifest() { return test::readTsv(kDir + "/MANIFEST.tsv"); }

#define REQUIRE_VECTORS()                                                                       \
    if (!test::fileExists(kDir + "/MANIFEST.tsv"))                                              \
    GTEST_SKIP() << "MPEG audio conformance vectors not found in " << kDir

// Decodes a vector and compares `frames` samples per channel from `first`
// (per channel) of our output with the reference from `refFirst`.
test::PcmDiff compareWithReference(const test::Mp3Decode& d, const std::vector<int16_t>& ref, size_t first,
                                   size_t refFirst, size_t samplesPerChannel) {
    const size_t ch = size_t(d.channels);
    if (d.pcm.size() < (first + samplesPerChannel) * ch || ref.size() < (refFirst + samplesPerChannel) * ch) {
        ADD_FAILURE() << "too few samples: decoded " << d.pcm.size() / ch << " per channel, reference "
                      << ref.size() / ch;
        return {};
    }
    return test::comparePcm(d.pcm.data() + first * ch, ref.data() + refFirst * ch, samplesPerChannel * ch);
}

}  // namespace

// Every standard vector whose first header the header search accepts must
// decode within 0.75 LSB RMS and 2 LSB peak of the rounded reference, even
// though our output is truncated toward zero.
TEST(MP3Conformance, AcceptedVectorsMatchTheReference) {
    REQUIRE_VECTORS();
    int compared = 0;
    for (const Row& row : manifest()) {
        const std::string name = row.at("name");
        if (row.at("class") != "conformance" || name == "l3-he_mode.bit") continue;
        SCOPED_TRACE(name);
        const test::Mp3Decode d = test::decodeMp3File(kDir + "/" + name);
        ASSERT_TRUE(d.ok) << d.error;
        EXPECT_EQ(d.rate, std::stoi(row.at("sample_rate")));
        EXPECT_EQ(d.channels, std::stoi(row.at("channels")));
        const std::vector<int16_t> ref = test::readPcm16(kDir + "/" + row.at("ref_pcm"));
        const size_t valid = std::stoul(row.at("ref_valid_samples_per_channel"));
        const test::PcmDiff diff = compareWithReference(d, ref, 0, 0, valid);
        std::printf("%-28s rms %.4f max %d over %zu\n", name.c_str(), diff.rms, diff.maxAbs, diff.count);
        EXPECT_LE(diff.rms, 0.75);
        EXPECT_LE(diff.maxAbs, 2);
        ++compared;
    }
    EXPECT_GE(compared, 20);
}

// Tags before and after a single frame are passed over; the frame decodes
// like the reference.
TEST(MP3Conformance, TagsAroundTheStreamAreSkipped) {
    REQUIRE_VECTORS();
    for (const char* name : {"l3-nonstandard-id3v2", "l3-nonstandard-id3v1", "l3-nonstandard-apetag",
                             "l3-nonstandard-id3v1-apetag"}) {
        SCOPED_TRACE(name);
        const test::Mp3Decode d = test::decodeMp3File(kDir + "/" + name + ".bit");
        ASSERT_TRUE(d.ok) << d.error;
        EXPECT_EQ(d.rate, 48000);
        EXPECT_EQ(d.channels, 1);
        EXPECT_EQ(d.pcm.size(), 1152u);
        const std::vector<int16_t> ref = test::readPcm16(kDir + "/" + name + ".pcm");
        const test::PcmDiff diff = compareWithReference(d, ref, 0, 0, 1152);
        EXPECT_LE(diff.rms, 0.75);
        EXPECT_LE(diff.maxAbs, 2);
    }
}

// No acceptable frame (tag only, a few bytes of text, a truncated Layer I
// header, free format): the preparation fails without an exception.
TEST(MP3Conformance, StreamsWithoutUsableFramesDoNotLoad) {
    REQUIRE_VECTORS();
    for (const char* name : {"l3-nonstandard-id3v2-only", "l3-nonstandard-small", "l3-nonstandard-sideinfo-size",
                             "l2-nonstandard-free_format"}) {
        SCOPED_TRACE(name);
        const test::Mp3Decode d = test::decodeMp3File(kDir + "/" + name + ".bit");
        EXPECT_FALSE(d.ok);
        EXPECT_EQ(d.error, "");
    }
}

// A frame carrying only an encoder's info tag is an ordinary frame to us:
// its main data is empty, so it decodes to one frame of silence.
TEST(MP3Conformance, InfoTagFramesDecodeAsSilence) {
    REQUIRE_VECTORS();
    for (const char* name : {"l3-nonstandard-vbrtag-only", "l3-nonstandard-vbrtag-empty",
                             "l3-nonstandard-vbrtag-oob-read"}) {
        SCOPED_TRACE(name);
        const test::Mp3Decode d = test::decodeMp3File(kDir + "/" + name + ".bit");
        ASSERT_TRUE(d.ok) << d.error;
        EXPECT_EQ(d.rate, 44100);
        ASSERT_EQ(d.pcm.size(), 2u * 1152u);
        EXPECT_EQ(std::count(d.pcm.begin(), d.pcm.end(), int16_t(0)), 2 * 1152);
    }
}

// One damaged byte: the frames before the damage still match, and the
// stream decodes to its end (216 whole frames; the 217th is truncated).
TEST(MP3Conformance, DamagedSideInformationKeepsEarlierFrames) {
    REQUIRE_VECTORS();
    const std::string name = "l3-nonstandard-compl-sideinfo-bigvalues";
    const test::Mp3Decode d = test::decodeMp3File(kDir + "/" + name + ".bit");
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.pcm.size(), 216u * 1152u);
    const std::vector<int16_t> ref = test::readPcm16(kDir + "/" + name + ".pcm");
    const test::PcmDiff diff = compareWithReference(d, ref, 0, 0, 190 * 1152);
    EXPECT_LE(diff.rms, 0.75);
    EXPECT_LE(diff.maxAbs, 2);
}

TEST(MP3Conformance, DamagedAllocationKeepsEarlierFrames) {
    REQUIRE_VECTORS();
    const std::string name = "l2-nonstandard-test32-size";
    const test::Mp3Decode d = test::decodeMp3File(kDir + "/" + name + ".bit");
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.channels, 2);
    EXPECT_GE(d.pcm.size(), 2u * 12u * 1152u);
    const std::vector<int16_t> ref = test::readPcm16(kDir + "/" + name + ".pcm");
    const test::PcmDiff diff = compareWithReference(d, ref, 0, 0, 12 * 1152);
    EXPECT_LE(diff.rms, 0.75);
    EXPECT_LE(diff.maxAbs, 2);
}

// The first frame is single-channel and later ones are not: the search
// passes over the two-channel frames, and inside their data it meets a
// header-like word with reserved layer bits, which stops the decoding with
// the reader's text exception.
TEST(MP3Conformance, ModeChangeEndsInTheLayerException) {
    REQUIRE_VECTORS();
    const test::Mp3Decode d = test::decodeMp3File(kDir + "/l3-he_mode.bit");
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.error, "unknown layer identifier found!\n");
}
