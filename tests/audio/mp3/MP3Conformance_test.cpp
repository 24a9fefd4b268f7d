#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <tuple>
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

// Every standard vector: Layers I, II and III, MPEG-1 and the low sampling
// frequencies, every channel mode. In l3-he_mode the first frame is
// single-channel and later ones are not: the search passes over the
// two-channel frames, and inside their data it meets a header-like word with
// reserved layer bits, which stops the decoding with the reader's text.
TEST(MP3Conformance, StandardVectorsMatchTheReference) {
    REQUIRE_VECTORS();
    int compared = 0;
    for (const auto& row : test::readTsv(kDir + "/MANIFEST.tsv")) {
        const std::string name = row.at("name").substr(0, row.at("name").size() - 4);
        if (row.at("class") != "conformance") continue;
        SCOPED_TRACE(name);
        const test::Mp3Decode d = decodeVector(name);
        if (name == "l3-he_mode") {
            EXPECT_FALSE(d.ok);
            EXPECT_EQ(d.error, "unknown layer identifier found!\n");
            continue;
        }
        ASSERT_TRUE(d.ok) << d.error;
        EXPECT_EQ(d.rate, std::stoi(row.at("sample_rate")));
        EXPECT_EQ(d.channels, std::stoi(row.at("channels")));
        expectMatchesReference(d, name, std::stoul(row.at("ref_valid_samples_per_channel")));
        ++compared;
    }
    EXPECT_EQ(compared, 22);
}

// Vectors outside the standard set. Single frames among tags are found and
// decode like the reference; a frame carrying only an encoder's info tag is
// an ordinary frame to us, whose empty main data decodes to stereo silence.
// After one damaged byte (Layer III side information, Layer II allocation)
// the earlier frames still match, and the stream decodes on to its last
// whole frame (l3's 217th is truncated).
TEST(MP3Conformance, NonstandardVectorsDecodeEveryWholeFrame) {
    REQUIRE_VECTORS();
    // Whole frames, and how many of them match the reference (0: silence).
    const std::tuple<const char*, int, int> vectors[] = {
        {"l3-nonstandard-id3v2", 1, 1},        {"l3-nonstandard-id3v1", 1, 1},
        {"l3-nonstandard-apetag", 1, 1},       {"l3-nonstandard-id3v1-apetag", 1, 1},
        {"l3-nonstandard-vbrtag-only", 1, 0},  {"l3-nonstandard-vbrtag-empty", 1, 0},
        {"l3-nonstandard-vbrtag-oob-read", 1, 0}, {"l3-nonstandard-compl-sideinfo-bigvalues", 216, 190},
        {"l2-nonstandard-test32-size", 63, 12}};
    for (const auto& [name, frames, matching] : vectors) {
        SCOPED_TRACE(name);
        const test::Mp3Decode d = decodeVector(name);
        ASSERT_TRUE(d.ok) << d.error;
        ASSERT_EQ(d.pcm.size(), size_t(d.channels) * 1152u * size_t(frames));
        if (matching > 0) {
            expectMatchesReference(d, name, size_t(matching) * 1152);
        } else {
            EXPECT_EQ(std::count(d.pcm.begin(), d.pcm.end(), int16_t(0)), 2 * 1152);
        }
    }
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
        EXPECT_TRUE(decode(s.second, false, nullptr) == decode(s.second, true, &split));
        splits += split;
    }
    EXPECT_GE(splits, int(streams.size()) / 2);
}
