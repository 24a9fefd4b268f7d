// The decoder against reference decodes: the conformance vectors' PCM when
// present, and an independent decoder's output for encoder-made files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <tuple>

#include "audio/mp3/MP3Decoder.h"
#include "support/MP3Fixtures.h"
#include "support/Signals.h"
#include "support/TestFiles.h"

namespace {

const std::string kDir = std::string(VEX_CONFORMANCE_DIR) + "/mpeg-audio";

#define REQUIRE_VECTORS()                          \
    if (!test::fileExists(kDir + "/MANIFEST.tsv")) \
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

// l3-he_mode's later frames are two-channel after a single-channel first: the
// search passes over them and meets, inside their data, a header-like word
// with reserved layer bits, which ends the decoding.
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

// A frame with only an encoder's info tag is an ordinary frame of stereo
// silence. After one damaged byte earlier frames still match and the stream
// decodes on to its last whole frame (l3's 217th is truncated).
TEST(MP3Conformance, NonstandardVectorsDecodeEveryWholeFrame) {
    REQUIRE_VECTORS();
    // Whole frames, and how many match the reference (0: silence).
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
        if (matching > 0)
            expectMatchesReference(d, name, size_t(matching) * 1152);
        else
            EXPECT_EQ(std::count(d.pcm.begin(), d.pcm.end(), int16_t(0)), 2 * 1152);
    }
}

// The second decoder starts a few frames early (or, where it has not settled,
// the first goes on alone): every vector with its split forced, and a long
// encoder-made stream with short blocks and joint stereo.
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
    if (std::system(("sox -n -r 44100 -c 2 -b 16 " + wav + " synth 20 square 3 sine 440 2>/dev/null && "
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

// The vectors compare no MPEG-1 Layer III joint stereo. The channels differ, so
// it has a side signal; without the info frame both start at the same sample.
TEST(MP3Peer, EncodedFilesMatchAnIndependentDecoder) {
    if (!test::haveTool("lame") || !test::haveTool("mpg123")) GTEST_SKIP() << "lame or mpg123 not installed";
    test::TempDir dir;
    const std::string wav = dir.path("in.wav"), mp3 = dir.path("out.mp3"), raw = dir.path("out.raw");
    for (const auto& [rate, channels, quality, mode] : {std::tuple{44100, 2, "2", "j"}, {22050, 1, "5", "m"}}) {
        const std::string tag = std::to_string(rate) + " Hz -V " + quality + " -m " + mode;
        SCOPED_TRACE(tag);
        const auto left = test::music(rate, 3.0, 1);
        test::writeWav(wav, channels == 1 ? left : test::interleave(left, test::music(rate, 3.0, 2)), rate, channels);
        ASSERT_EQ(test::runProgram("lame", {"--quiet", "-t", "-V", quality, "-m", mode, wav, mp3}), 0);
        ASSERT_EQ(test::runProgram("mpg123", {"-q", "--no-gapless", "-O", raw, mp3}), 0);
        const test::Mp3Decode d = test::decodeMp3File(mp3);
        ASSERT_TRUE(d.ok) << d.error;
        EXPECT_EQ(d.rate, rate);
        EXPECT_EQ(d.channels, channels);
        const std::vector<int16_t> ref = test::readPcm16(raw);
        EXPECT_EQ(d.pcm.size(), ref.size());
        const size_t n = std::min(d.pcm.size(), ref.size());
        ASSERT_GE(n, size_t(2 * rate * channels));
        test::expectWithinConformanceBounds(d.pcm.data(), ref.data(), n, tag);
    }
}
