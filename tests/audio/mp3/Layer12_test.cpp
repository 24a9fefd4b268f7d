#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <map>
#include <sstream>

#include "audio/mp3/BitStream.h"
#include "audio/mp3/FrameHeader.h"
#include "audio/mp3/Layer12Decoder.h"
#include "audio/mp3/Layer2Tables.h"
#include "audio/mp3/Obuffer.h"
#include "audio/mp3/SynthesisFilter.h"

using namespace mp3;

// Every MPEG-1 rule of the table data for one and two channels, and by hand
// the cases outside them.
TEST(Layer2Tables, SelectionFollowsRateAndBitratePerChannel) {
    EXPECT_STREQ(selectAllocTable(0, 0, 1, 1).name, "LSF");
    EXPECT_STREQ(selectAllocTable(0, 1, 14, 2).name, "LSF");
    EXPECT_STREQ(selectAllocTable(1, 3, 8, 2).name, "B2a");   // like 44.1 kHz, 64 per channel
    EXPECT_STREQ(selectAllocTable(1, 1, 15, 2).name, "B2a");  // like free format

    const std::string path = std::string(VEX_CONFORMANCE_DIR) + "/../data/mpeg-audio/layer2-allocation.txt";
    std::ifstream in(path);
    if (!in) GTEST_SKIP() << "table data not found at " << path;
    const std::map<int, int> indexOfRate = {{44100, 0}, {48000, 1}, {32000, 2}};
    int checked = 0;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string keyword, table;
        int rate = 0, perChannel = 0;
        if (!(fields >> keyword) || keyword != "rule" || !(fields >> rate >> perChannel >> table) || perChannel < 0)
            continue;
        for (int channels = 1; channels <= 2; ++channels)
            for (int index = 0; index < 15; ++index) {
                if (kLayer2BitrateKbps[index] / channels != perChannel) continue;
                SCOPED_TRACE(line + ", channels " + std::to_string(channels));
                EXPECT_STREQ(selectAllocTable(1, indexOfRate.at(rate), index, channels).name, table.c_str());
                ++checked;
            }
    }
    EXPECT_GT(checked, 50);
}

namespace {

struct BitWriter {
    void put(uint32_t value, unsigned n) {
        for (unsigned i = n; i-- > 0; ++bits) {
            if (bits % 8 == 0) bytes.push_back(0);
            if ((value >> i) & 1u) bytes.back() |= uint8_t(0x80u >> (bits % 8));
        }
    }
    std::vector<uint8_t> bytes;
    size_t bits = 0;
};

struct Capture : Obuffer {
    void append(int channel, int16_t sample) override { pcm[channel & 1].push_back(sample); }
    std::vector<int16_t> pcm[2];
};

// Subband samples per pass, [pass][sb], through a fresh filter.
std::vector<int16_t> synthesise(const std::vector<std::array<float, 32>>& passes) {
    SynthesisFilter f;
    std::vector<int16_t> out(32 * passes.size());
    for (size_t p = 0; p < passes.size(); ++p) {
        f.inputSamples(passes[p].data());
        f.calculatePcmSamples(out.data() + 32 * p);
    }
    return out;
}

// What code k of a quantiser with `steps` steps stands for, times the scale
// factor of index i (a multiple of 3, so exact).
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

// No conformance vector has Layer II joint stereo, so this frame is built bit
// by bit: table 3-B.2a, intensity from subband 4. Subbands 10 (9 steps,
// grouped) and 26 (65535 steps) carry one allocation and one set of codes for
// both channels, each scaled by its own scale factors under its own selection.
TEST(Layer12Frame, Layer2IntensityStereoSharesCodesButNotScaleFactors) {
    const uint32_t header = 0xFFFDA440;  // Layer II, no CRC, 192 kbit/s, 48 kHz, joint stereo, bound 4
    BitWriter p;
    p.put(header, 32);
    for (unsigned sb = 0; sb < 27; ++sb) {
        const unsigned nbal = kTableB2a.nbal[sb];
        for (int ch = 0; ch < (sb < 4 ? 2 : 1); ++ch) p.put(sb == 10 ? 4 : sb == 26 ? 3 : 0, nbal);
    }
    for (uint32_t v : {0u, 3u, 2u, 1u}) p.put(v, 2);  // selections: sb10 left, right; sb26 left, right
    const int sf10L[3] = {6, 9, 12}, sf10R[3] = {12, 15, 15}, sf26L[3] = {9, 9, 9}, sf26R[3] = {18, 18, 21};
    for (uint32_t v : {6u, 9u, 12u, 12u, 15u, 9u, 18u, 21u}) p.put(v, 6);
    std::vector<std::array<float, 32>> left(36), right(36);
    for (uint32_t gr = 0; gr < 12; ++gr) {
        const int part = int(gr / 4);
        const uint32_t g9[3] = {gr % 9, 8 - gr % 9, (gr * 5) % 9};
        const uint32_t w16[3] = {gr * 5000, 65534 - gr * 4000, 32767};
        p.put(g9[0] + 9 * (g9[1] + 9 * g9[2]), 10);
        for (uint32_t v : w16) p.put(v, 16);
        for (int i = 0; i < 3; ++i) {
            left[gr * 3 + i][10] = level(g9[i], 9, sf10L[part]);
            right[gr * 3 + i][10] = level(g9[i], 9, sf10R[part]);
            left[gr * 3 + i][26] = level(w16[i], 65535, sf26L[part]);
            right[gr * 3 + i][26] = level(w16[i], 65535, sf26R[part]);
        }
    }
    FrameHeader h;
    h.decode(header);
    ASSERT_LE(p.bytes.size(), size_t(h.frameSize()));
    p.bytes.resize(size_t(h.frameSize()), 0);

    BitStream stream;
    stream.openMemory(p.bytes.data(), p.bytes.size());
    ASSERT_TRUE(stream.readFrame(h));
    SynthesisFilter f0(0), f1(1);
    Capture got;
    decodeLayer12Frame(stream, h, &f0, &f1, got);
    expectClose(got.pcm[0], synthesise(left));
    expectClose(got.pcm[1], synthesise(right));
}
