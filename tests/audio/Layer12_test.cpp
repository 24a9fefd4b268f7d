#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "audio/mp3/BitStream.h"
#include "audio/mp3/FrameHeader.h"
#include "audio/mp3/Layer12Decoder.h"
#include "audio/mp3/Layer2Tables.h"
#include "audio/mp3/Obuffer.h"
#include "audio/mp3/Subband.h"
#include "audio/mp3/SynthesisFilter.h"
#include "support/MP3Fixtures.h"
#include "support/Signals.h"
#include "support/TestFiles.h"

using namespace mp3;

namespace {

unsigned stepsAt(const AllocTable& t, unsigned sb, unsigned allocation) {
    const int8_t c = t.classes[sb][allocation];
    return c == AllocTable::kNoClass ? 0u : kQuantClasses.at(size_t(c)).steps;
}

}  // namespace

TEST(Layer2Tables, PinnedEntries) {
    // Checked by hand against ISO/IEC 11172-3 3-B.1, 3-B.2a..d, 3-B.4 and 13818-3 B.1.
    const AllocTable* tables[] = {&kTableB2a, &kTableB2b, &kTableB2c, &kTableB2d, &kTableLSF};
    const int sblimits[] = {27, 30, 8, 12, 30};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(tables[i]->sblimit, sblimits[i]) << tables[i]->name;
    EXPECT_EQ(kTableB2a.nbal[10] * 100 + kTableB2a.nbal[11] * 10 + kTableB2b.nbal[29], 432);
    EXPECT_EQ(kTableLSF.nbal[3] * 100 + kTableLSF.nbal[4] * 10 + kTableLSF.nbal[11], 432);
    EXPECT_EQ(stepsAt(kTableB2a, 0, 0), 0u);
    EXPECT_EQ(stepsAt(kTableB2a, 0, 2), 7u);
    EXPECT_EQ(stepsAt(kTableB2a, 3, 4), 9u);
    EXPECT_EQ(stepsAt(kTableB2a, 11, 7), 65535u);
    EXPECT_EQ(stepsAt(kTableB2b, 26, 2), 5u);
    EXPECT_EQ(stepsAt(kTableB2c, 0, 15), 32767u);
    EXPECT_EQ(stepsAt(kTableB2d, 11, 7), 127u);
    EXPECT_EQ(stepsAt(kTableLSF, 29, 3), 9u);
    EXPECT_EQ(stepsAt(kTableB2a, 23, 4), 0u);  // past a 2-bit field: nothing
    const QuantClass& q9 = kQuantClasses[3];
    EXPECT_EQ(q9.steps, 9u);
    EXPECT_TRUE(q9.grouping);
    EXPECT_EQ(q9.codeBits * 100 + q9.sampleBits, 1004);
    EXPECT_DOUBLE_EQ(q9.c, 1.77777777777);
    EXPECT_DOUBLE_EQ(kQuantClasses[2].d, 0.25);
    EXPECT_DOUBLE_EQ(kQuantClasses[16].d, 0.00003051758);
    EXPECT_DOUBLE_EQ(kScaleFactors[1], 1.58740105196820);
    EXPECT_DOUBLE_EQ(kScaleFactors[62], 0.00000120155435);
    EXPECT_NEAR(kScaleFactors[63], std::ldexp(1.0, -20), 1e-14);
}

TEST(Layer2Tables, SelectionFollowsRateAndBitratePerChannel) {
    // Cases outside the MPEG-1 rule list: low sampling frequencies, free
    // format, reserved and forbidden indices.
    EXPECT_STREQ(selectAllocTable(0, 0, 1, 1).name, "LSF");
    EXPECT_STREQ(selectAllocTable(0, 1, 14, 2).name, "LSF");
    EXPECT_STREQ(selectAllocTable(1, 1, 0, 2).name, "B2a");
    EXPECT_STREQ(selectAllocTable(1, 2, 0, 1).name, "B2b");
    EXPECT_STREQ(selectAllocTable(1, 3, 8, 2).name, "B2a");   // like 44.1 kHz, 64 per channel
    EXPECT_STREQ(selectAllocTable(1, 1, 15, 2).name, "B2a");  // like free format

    const std::string path =
        std::string(VEX_CONFORMANCE_DIR) + "/../data/mpeg-audio/layer2-allocation.txt";
    std::ifstream in(path);
    if (!in) GTEST_SKIP() << "table data not found at " << path;
    const std::map<int, int> indexOfRate = {{44100, 0}, {48000, 1}, {32000, 2}};
    int checked = 0;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string keyword, table;
        int rate = 0, perChannel = 0;
        if (!(fields >> keyword) || keyword != "rule" || !(fields >> rate >> perChannel >> table) ||
            perChannel < 0)
            continue;
        for (int channels = 1; channels <= 2; ++channels)
            for (int index = 0; index < 15; ++index) {
                if (kLayer2BitrateKbps[index] / channels != perChannel) continue;
                SCOPED_TRACE(line + ", channels " + std::to_string(channels));
                EXPECT_STREQ(selectAllocTable(1, indexOfRate.at(rate), index, channels).name,
                             table.c_str());
                ++checked;
            }
    }
    EXPECT_GT(checked, 50);
}

TEST(Requantise, CodesGiveUniformLevelsSymmetricAroundZero) {
    // Layer I: nb bits code 2^nb - 1 levels (2k - (2^nb - 2)) / (2^nb - 1).
    for (unsigned nb = 2; nb <= 16; ++nb) {
        SCOPED_TRACE(nb);
        const uint32_t levels = (1u << nb) - 1;
        for (uint32_t k = 0; k < levels; k += (nb > 8 ? 97 : 1))
            ASSERT_NEAR(requantiseLayer1(k, nb), (2.0 * k - (levels - 1.0)) / levels, 1e-15) << k;
        EXPECT_EQ(requantiseLayer1((levels - 1) / 2, nb), 0.0);
    }
    // Layer II classes: the same levels for their step counts; C and D carry
    // 11 digits, so they hold to about 1e-11.
    for (const QuantClass& q : kQuantClasses) {
        SCOPED_TRACE(q.steps);
        for (uint32_t k = 0; k < q.steps; k += (q.steps > 1000 ? 61 : 1))
            ASSERT_NEAR(requantise(k, q.sampleBits, q.c, q.d), (2.0 * k - (q.steps - 1.0)) / q.steps,
                        1e-10) << k;
    }
}

TEST(Requantise, DegroupingSplitsBaseStepsDigitsAndStaysInRange) {
    for (uint32_t steps : {3u, 5u, 9u}) {
        SCOPED_TRACE(steps);
        const unsigned bits = steps == 3 ? 5 : steps == 5 ? 7 : 10;
        for (uint32_t code = 0; code < (1u << bits); ++code) {
            uint32_t out[3];
            degroup(code, steps, out);
            if (code < steps * steps * steps) {
                ASSERT_EQ(out[0] + steps * (out[1] + steps * out[2]), code);
            }
            // A damaged code word beyond steps^3 must still give usable codes.
            for (uint32_t v : out) ASSERT_LT(v, steps) << code;
        }
    }
}

// ---- Whole frames built bit by bit ---------------------------------------

namespace {

class BitWriter {
public:
    void put(uint32_t value, unsigned n) {
        for (unsigned i = n; i-- > 0;) {
            if (bits_ % 8 == 0) bytes_.push_back(0);
            if ((value >> i) & 1u) bytes_.back() |= uint8_t(0x80u >> (bits_ % 8));
            ++bits_;
        }
    }
    std::vector<uint8_t>& bytes() { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    size_t bits_ = 0;
};

// Collects what the decoder hands out, per channel.
class Capture : public Obuffer {
public:
    void append(int channel, int16_t sample) override { pcm[channel & 1].push_back(sample); }
    void copyOut(int16_t*) override {}
    int64_t count() const override { return int64_t(pcm[0].size() + pcm[1].size()); }
    std::vector<int16_t> pcm[2];
};

struct Header {
    int version = 1, layer = 1, bitrateIndex = 14, sampleIndex = 0, mode = 3, modeExtension = 0;
};

// A frame of the given header with no CRC word; the payload is zero-padded
// to the frame length.
std::vector<uint8_t> buildFrame(const Header& h, BitWriter payload) {
    const uint32_t word = 0xFFF10000u | uint32_t(h.version) << 19 | uint32_t(4 - h.layer) << 17 |
                          uint32_t(h.bitrateIndex) << 12 | uint32_t(h.sampleIndex) << 10 |
                          uint32_t(h.mode) << 6 | uint32_t(h.modeExtension) << 4;
    BitWriter w;
    w.put(word, 32);
    FrameHeader fh;
    fh.decode(word);
    std::vector<uint8_t> frame = w.bytes();
    frame.insert(frame.end(), payload.bytes().begin(), payload.bytes().end());
    EXPECT_LE(frame.size(), size_t(fh.frame_size())) << "payload too long for the frame";
    frame.resize(size_t(fh.frame_size()), 0);
    return frame;
}

// Decodes the first frame of bytes with two synthesis filters.
Capture decodeFirstFrame(const std::vector<uint8_t>& bytes, bool twoFilters = true) {
    BitStream stream;
    stream.openMemory(bytes.data(), bytes.size());
    FrameHeader header;
    Capture out;
    EXPECT_TRUE(stream.readFrame(header));
    SynthesisFilter f0(0), f1(1);
    decodeLayer12Frame(stream, header, &f0, twoFilters ? &f1 : nullptr, out);
    return out;
}

// Subband samples per pass, [pass][sb], run through a fresh filter.
std::vector<int16_t> synthesise(const std::vector<std::array<float, 32>>& passes, int channel) {
    SynthesisFilter f(channel);
    Capture out;
    for (const auto& pass : passes) {
        for (unsigned sb = 0; sb < 32; ++sb) f.input_sample(pass[sb], sb);
        f.calculate_pcm_samples(out);
    }
    return out.pcm[channel];
}

// The value code k of a quantiser with the given number of steps stands for,
// times the scale factor of index i (a multiple of 3, so exact).
float level(uint32_t k, uint32_t steps, int scaleIndex) {
    return float((2.0 * k - (steps - 1.0)) / steps * std::ldexp(1.0, 1 - scaleIndex / 3));
}

void expectClose(const std::vector<int16_t>& got, const std::vector<int16_t>& want) {
    ASSERT_EQ(got.size(), want.size());
    int worst = 0, loudest = 0;
    for (size_t i = 0; i < got.size(); ++i) {
        worst = std::max(worst, std::abs(got[i] - want[i]));
        loudest = std::max(loudest, std::abs(int(want[i])));
    }
    EXPECT_LE(worst, 1);
    EXPECT_GT(loudest, 1000) << "the fixture should make sound";
}

}  // namespace

TEST(Layer12Frame, Layer1JointStereoSharesSamplesAboveTheBound) {
    Header h;
    h.mode = FrameHeader::JointStereo;
    h.modeExtension = 0;  // bound 4
    BitWriter p;
    for (unsigned sb = 0; sb < 4; ++sb) {  // two allocations each below the bound
        p.put(sb == 1 ? 1 : 0, 4);
        p.put(sb == 1 ? 3 : 0, 4);
    }
    for (unsigned sb = 4; sb < 32; ++sb) p.put(sb == 6 ? 2 : 0, 4);  // one above it
    for (uint32_t v : {3u, 6u, 3u, 9u}) p.put(v, 6);  // sb1 left, right; sb6 left, right
    std::vector<std::array<float, 32>> left(12), right(12);
    for (uint32_t s = 0; s < 12; ++s) {
        const uint32_t a = (s + 1) % 3, b = (s * 4) % 15, c = s % 7;
        p.put(a, 2);
        p.put(b, 4);
        p.put(c, 3);
        left[s][1] = level(a, 3, 3);
        right[s][1] = level(b, 15, 6);
        left[s][6] = level(c, 7, 3);
        right[s][6] = level(c, 7, 9);
    }
    const Capture got = decodeFirstFrame(buildFrame(h, p));
    expectClose(got.pcm[0], synthesise(left, 0));
    expectClose(got.pcm[1], synthesise(right, 1));
}

TEST(Layer12Frame, Layer2JointStereoFollowsAllocationSelectionAndGrouping) {
    // 48 kHz at 192 kbit/s stereo uses table 3-B.2a (27 subbands).
    Header h;
    h.layer = 2;
    h.sampleIndex = 1;
    h.bitrateIndex = 10;
    h.mode = FrameHeader::JointStereo;
    h.modeExtension = 1;  // bound 8
    BitWriter p;
    for (unsigned sb = 0; sb < 27; ++sb) {
        const unsigned nbal = kTableB2a.nbal[sb];
        if (sb < 8) {
            p.put(sb == 0 ? 1 : 0, nbal);  // left: 3 steps, grouped
            p.put(sb == 0 ? 2 : 0, nbal);  // right: 7 steps
        } else {
            p.put(sb == 10 ? 4 : sb == 26 ? 3 : 0, nbal);  // 9 steps grouped; 65535 steps
        }
    }
    // Scale factor selection: sb0 left 2, right 1; sb10 left 0, right 3; sb26 2 and 2.
    for (uint32_t v : {2u, 1u, 0u, 3u, 2u, 2u}) p.put(v, 2);
    const int sb0L[3] = {6, 6, 6}, sb0R[3] = {9, 9, 12};
    const int sb10L[3] = {6, 9, 12}, sb10R[3] = {12, 15, 15};
    const int sb26L[3] = {9, 9, 9}, sb26R[3] = {18, 18, 18};
    for (uint32_t v : {6u, 9u, 12u, 6u, 9u, 12u, 12u, 15u, 9u, 18u}) p.put(v, 6);
    std::vector<std::array<float, 32>> left(36), right(36);
    for (uint32_t gr = 0; gr < 12; ++gr) {
        const int part = gr / 4;
        uint32_t g3[3] = {gr % 3, (gr + 1) % 3, (gr + 2) % 3};
        uint32_t r7[3] = {gr % 7, (gr * 3) % 7, 6 - gr % 7};
        uint32_t g9[3] = {gr % 9, 8 - gr % 9, (gr * 5) % 9};
        uint32_t w16[3] = {gr * 5000, 65534 - gr * 4000, 32767};
        p.put(g3[0] + 3 * (g3[1] + 3 * g3[2]), 5);
        for (uint32_t v : r7) p.put(v, 3);
        p.put(g9[0] + 9 * (g9[1] + 9 * g9[2]), 10);
        for (uint32_t v : w16) p.put(v, 16);
        for (int i = 0; i < 3; ++i) {
            auto& l = left[gr * 3 + i];
            auto& r = right[gr * 3 + i];
            l[0] = level(g3[i], 3, sb0L[part]);
            r[0] = level(r7[i], 7, sb0R[part]);
            l[10] = level(g9[i], 9, sb10L[part]);
            r[10] = level(g9[i], 9, sb10R[part]);
            l[26] = level(w16[i], 65535, sb26L[part]);
            r[26] = level(w16[i], 65535, sb26R[part]);
        }
    }
    const Capture got = decodeFirstFrame(buildFrame(h, p));
    EXPECT_EQ(got.pcm[0].size(), 1152u);
    expectClose(got.pcm[0], synthesise(left, 0));
    expectClose(got.pcm[1], synthesise(right, 1));
}

TEST(Layer12Frame, DamagedFramesDecodeToAFullFrameOfSamples) {
    // Random payloads: any allocation, scale factor index 63, oversized
    // group codes, reads past the frame end. Each must give one frame of
    // samples per channel and nothing out of bounds.
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    for (int layer = 1; layer <= 2; ++layer)
        for (int mode = 0; mode < 4; ++mode)
            for (int bitrateIndex : {1, 6, 14}) {
                SCOPED_TRACE(std::to_string(layer) + "/" + std::to_string(mode) + "/" +
                             std::to_string(bitrateIndex));
                Header h;
                h.layer = layer;
                h.mode = mode;
                h.modeExtension = int(next() >> 30);
                h.bitrateIndex = bitrateIndex;
                for (int trial = 0; trial < 8; ++trial) {
                    BitWriter p;
                    for (int i = 0; i < 1800; ++i) p.put(next() >> 24, 8);
                    std::vector<uint8_t> frame = buildFrame(h, BitWriter());
                    std::copy(p.bytes().begin(), p.bytes().begin() + (frame.size() - 4),
                              frame.begin() + 4);
                    const Capture got = decodeFirstFrame(frame, mode != 3);
                    const size_t n = layer == 1 ? 384 : 1152;
                    ASSERT_EQ(got.pcm[0].size(), n);
                    ASSERT_EQ(got.pcm[1].size(), mode == 3 ? 0 : n);
                }
            }
}

// ---- Streams from an independent encoder ---------------------------------

TEST(Layer12Stream, EncodedLayer2MatchesAnIndependentDecoder) {
    if (!test::haveTool("ffmpeg") || !test::haveTool("mpg123"))
        GTEST_SKIP() << "ffmpeg (Layer II encoder) or mpg123 (reference decoder) not on PATH";
    struct Case {
        int rate, channels;
        const char* bitrate;  // the table each selects, for the record
    };
    const Case cases[] = {
        {48000, 1, "64k"},   // 3-B.2a
        {44100, 2, "192k"},  // 3-B.2b
        {44100, 1, "48k"},   // 3-B.2c
        {32000, 2, "64k"},   // 3-B.2d
        {32000, 1, "80k"},   // 3-B.2a
        {24000, 2, "96k"},   // low sampling frequencies
        {22050, 1, "32k"},
        {16000, 2, "48k"},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.channels) + " ch, " +
                     c.bitrate);
        // A chord with noise, different in each channel, loud enough to use
        // the fine quantisers.
        std::vector<int16_t> ch[2];
        for (int k = 0; k < c.channels; ++k) {
            const auto a = test::sine(330.0 * (k + 1), c.rate, 1.0, 9000.0);
            const auto b = test::sine(2500.0 + 700.0 * k, c.rate, 1.0, 5000.0);
            const auto n = test::noise(c.rate, 1.0, 3000.0, 7u + unsigned(k));
            ch[k].resize(a.size());
            for (size_t i = 0; i < a.size(); ++i) ch[k][i] = int16_t(a[i] + b[i] + n[i]);
        }
        const std::string wav = dir.path("in.wav"), mp2 = dir.path("out.mp2"),
                          raw = dir.path("ref.raw");
        test::writeWav(wav, c.channels == 2 ? test::interleave(ch[0], ch[1]) : ch[0], c.rate,
                       c.channels);
        const std::string encode = "ffmpeg -nostdin -v error -y -i '" + wav + "' -c:a mp2 -b:a " +
                                   c.bitrate + " -f mp2 '" + mp2 + "'";
        ASSERT_EQ(std::system(encode.c_str()), 0) << encode;
        const std::string reference = "mpg123 -q -s '" + mp2 + "' > '" + raw + "'";
        ASSERT_EQ(std::system(reference.c_str()), 0) << reference;

        const test::Mp3Decode d = test::decodeMp3File(mp2);
        ASSERT_TRUE(d.ok) << d.error;
        EXPECT_EQ(d.rate, c.rate);
        EXPECT_EQ(d.channels, c.channels);
        const std::vector<int16_t> ref = test::readPcm16(raw);
        ASSERT_EQ(d.pcm.size(), ref.size());
        ASSERT_GE(ref.size(), size_t(c.rate * c.channels / 2));
        const test::PcmDiff diff = test::comparePcm(d.pcm.data(), ref.data(), ref.size());
        std::printf("Layer II %5d Hz %d ch %-4s rms %.4f max %d over %zu\n", c.rate, c.channels,
                    c.bitrate, diff.rms, diff.maxAbs, diff.count);
        EXPECT_LE(diff.rms, 0.75);
        EXPECT_LE(diff.maxAbs, 2);
    }
}
