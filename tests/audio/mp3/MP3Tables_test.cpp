#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

#include "audio/mp3/MP3Tables.h"
#include "audio/mp3/MainData.h"

using namespace mp3;

namespace {

// Decodes one code word, given as a bit string and followed by `fill` bits,
// with the decoder's own reader; it must take exactly the code's bits.
uint32_t decodeCode(int table, const std::string& bits, uint8_t fill) {
    std::vector<uint8_t> bytes(bits.size() / 8 + 16, fill);
    for (size_t i = 0; i < bits.size(); ++i) {
        const uint8_t mask = uint8_t(0x80u >> (i % 8));
        bytes[i / 8] = uint8_t(bits[i] == '1' ? bytes[i / 8] | mask : bytes[i / 8] & ~mask);
    }
    MainData md;
    md.reset(bytes.data(), unsigned(bytes.size() - 8));
    const uint32_t e = huffmanDecode(md, kHuffmanTables[table]);
    EXPECT_EQ(md.pos(), bits.size()) << "table " << table << " code " << bits;
    return e;
}

void expectDecodes(int table, const std::string& bits, int xy) {
    for (uint8_t fill : {uint8_t(0x00), uint8_t(0xFF)})
        EXPECT_EQ(int((decodeCode(table, bits, fill) >> 8) & 0xFF), xy) << "table " << table << " code " << bits;
}

}  // namespace

// Every code of Table B.7 in the table data (x in bits 12..15 and y in 8..11,
// or a quadruple's vwxy in 8..11), and every table's linbits. By hand: a
// 15-bit code through a sub-table, and quad table B's 4-bit complement code.
TEST(MP3Tables, HuffmanCodesDecodeToTheirValues) {
    expectDecodes(13, "000000000011101", 0xF6);
    expectDecodes(33, "0110", 0x09);

    const std::string path = std::string(VEX_CONFORMANCE_DIR) + "/../data/mpeg-audio/layer3-huffman.txt";
    std::ifstream in(path);
    if (!in) GTEST_SKIP() << "table data not found at " << path;
    int table = -1, checked = 0;
    for (std::string line; std::getline(in, line);) {
        std::istringstream f(line);
        std::string first;
        if (!(f >> first) || first[0] == '#') continue;
        if (first == "table" || first == "quad") {
            std::string id;
            int xlen = 0, ylen = 0, linbits = 0;
            f >> id >> xlen >> ylen >> linbits;
            table = first == "table" ? std::stoi(id) : id == "A" ? 32 : 33;
            EXPECT_EQ(kHuffmanTables[table].linbits, linbits) << "table " << table;
            continue;
        }
        int values[4] = {std::stoi(first), 0, 0, 0}, length = 0;
        std::string bits;
        const int count = table >= 32 ? 4 : 2;
        for (int i = 1; i < count; ++i) f >> values[i];
        f >> length >> bits;
        ASSERT_EQ(int(bits.size()), length) << line;
        expectDecodes(table, bits, count == 4 ? 8 * values[0] + 4 * values[1] + 2 * values[2] + values[3]
                                              : 16 * values[0] + values[1]);
        ++checked;
    }
    EXPECT_GT(checked, 4000);
}

// The register window of the Huffman loops reads what the clamped reader
// reads: code words of every table on random bits, with up to 14 escape and
// sign bits after each, to 64 bits before the data's end.
TEST(MP3Tables, RegisterWindowReadsAsTheMainDataReader) {
    std::mt19937 rng(11);
    std::vector<uint8_t> bytes(4096 + 8, 0);
    for (size_t i = 0; i < 4096; ++i) bytes[i] = uint8_t(rng());
    for (int table = 0; table < 34; ++table) {
        SCOPED_TRACE(table);
        const HuffmanTable& t = kHuffmanTables[table];
        if (t.rootBits == 0) continue;
        MainData md;
        md.reset(bytes.data(), 4096);
        BitWindow w(md);
        int words = 0;
        while (w.fits()) {
            ASSERT_EQ(huffmanDecode(w, t), huffmanDecode(md, t));
            w.fill();
            const unsigned extra = unsigned(rng() % 15);
            ASSERT_EQ(w.get(extra), md.get(extra));
            ASSERT_EQ(w.pos(), md.pos());
            ++words;
        }
        EXPECT_GT(words, 1000);
    }
}
