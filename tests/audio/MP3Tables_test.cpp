#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "audio/mp3/FrameHeader.h"
#include "audio/mp3/MP3Tables.h"

using namespace mp3;

namespace {

// Decodes one code word given as a bit string with the generated lookup.
uint32_t lookup(int table, const std::string& bits) {
    uint32_t word = 0;
    for (size_t i = 0; i < bits.size(); ++i)
        if (bits[i] == '1') word |= 1u << (31 - i);
    const HuffmanTable& t = kHuffmanTables[table];
    uint32_t e = kHuffmanNodes[t.offset + (word >> (32 - t.rootBits))];
    unsigned used = 0;
    if (e & 0x80000000u) {
        used = t.rootBits;
        const unsigned width = e & 0xFF;
        e = kHuffmanNodes[((e >> 8) & 0x7FFFFF) + ((word << used) >> (32 - width))];
    }
    used += e & 0xFF;
    EXPECT_EQ(used, bits.size()) << "table " << table << " code " << bits;
    return e;
}

}  // namespace

TEST(MP3Tables, HuffmanCodesDecodeToTheirValues) {
    struct Case {
        int table;
        const char* bits;
        int x, y;
    };
    // Entries of ISO/IEC 11172-3 Table B.7 (the data file's code strings).
    const Case cases[] = {
        {1, "1", 0, 0},   {1, "001", 0, 1},          {1, "01", 1, 0},  {1, "000", 1, 1},
        {2, "000000", 2, 2}, {13, "1", 0, 0},        {15, "111", 0, 0},
        {16, "1", 0, 0},  {24, "1111", 0, 0},        {23, "1", 0, 0},
        {13, "000000000011101", 15, 6},  // a 15-bit code: through a sub-table
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        const uint32_t e = lookup(c.table, c.bits);
        EXPECT_EQ(int((e >> 12) & 15), c.x);
        EXPECT_EQ(int((e >> 8) & 15), c.y);
    }
    // Quad table B is the 4-bit complement code of vwxy; table A codes 0 as "1".
    for (int v = 0; v < 16; ++v) {
        std::string bits;
        for (int b = 3; b >= 0; --b) bits += ((15 - v) >> b) & 1 ? '1' : '0';
        EXPECT_EQ(int((lookup(33, bits) >> 8) & 15), v);
    }
    EXPECT_EQ(int((lookup(32, "1") >> 8) & 15), 0);

    EXPECT_EQ(kHuffmanTables[0].rootBits, 0);
    EXPECT_EQ(kHuffmanTables[4].rootBits, 0);
    EXPECT_EQ(kHuffmanTables[14].rootBits, 0);
    EXPECT_EQ(kHuffmanTables[16].linbits, 1);
    EXPECT_EQ(kHuffmanTables[23].linbits, 13);
    EXPECT_EQ(kHuffmanTables[24].linbits, 4);
    EXPECT_EQ(kHuffmanTables[31].linbits, 13);
}

TEST(MP3Tables, BandsAndWindowPinnedEntries) {
    EXPECT_EQ(kLongBands[0][8], 36);     // 44.1 kHz
    EXPECT_EQ(kLongBands[0][21], 418);
    EXPECT_EQ(kLongBands[2][22], 576);   // 32 kHz
    EXPECT_EQ(kLongBands[3][6], 36);     // 22.05 kHz
    EXPECT_EQ(kLongBands[4][18], 332);   // 24 kHz, settled by M2L3_compl24
    EXPECT_EQ(kLongBands[5][11], 96);    // 16 kHz
    EXPECT_EQ(kShortBands[1][12], 126);  // 48 kHz
    EXPECT_EQ(kShortBands[4][13], 192);
    EXPECT_EQ(kSynthesisWindowQ16[0], 0);
    EXPECT_EQ(kSynthesisWindowQ16[256], 75038);   // 1.144989014
    EXPECT_EQ(kSynthesisWindowQ16[255], -74992);  // -1.144287109
    for (int i = 1; i < 512; ++i) {
        if (i % 64 == 0) continue;
        EXPECT_EQ(kSynthesisWindowQ16[i], -kSynthesisWindowQ16[512 - i]) << i;
    }
}

TEST(MP3Tables, FrameSizesFollowTheHeaderFormula) {
    struct Case {
        uint32_t header;
        int layer, rate, size, samples;
    };
    const Case cases[] = {
        {0xFFFB9000, 3, 44100, 417, 1152},  // 128 kbit/s
        {0xFFFB9200, 3, 44100, 418, 1152},  // padded
        {0xFFFBE400, 3, 48000, 960, 1152},  // 320 kbit/s
        {0xFFF38000, 3, 22050, 208, 576},   // MPEG-2 64 kbit/s
        {0xFFFFE800, 1, 32000, 672, 384},   // Layer I 448 kbit/s
        {0xFFFDE800, 2, 32000, 1728, 1152}, // Layer II 384 kbit/s
        {0xFFF5E400, 2, 24000, 960, 1152},  // MPEG-2 Layer II 160 kbit/s
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.header);
        FrameHeader h;
        h.decode(c.header);
        EXPECT_EQ(h.layer(), c.layer);
        EXPECT_EQ(h.sample_rate_hz(), c.rate);
        EXPECT_EQ(h.frame_size(), c.size);
        EXPECT_EQ(h.samples_per_frame(), c.samples);
    }
    FrameHeader h;
    h.decode(0xFFFB00C0);  // free format
    EXPECT_EQ(h.frame_size(), 0);
    h.decode(0xFFFBF0C0);  // forbidden bitrate index
    EXPECT_EQ(h.frame_size(), 0);
    h.decode(0xFFF990C0);  // reserved layer bits
    EXPECT_EQ(h.layer(), 0);
    EXPECT_EQ(h.channels(), 1);
}
