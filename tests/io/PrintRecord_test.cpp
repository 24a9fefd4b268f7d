#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "io/DataInput.h"
#include "io/DataOutput.h"
#include "io/PrintRecord.h"

namespace {

PrintRecord filled(double first, double second) {
    double matrix[280] = {};
    matrix[0] = first;
    matrix[1] = second;
    matrix[279] = -1.0;
    const int32_t counts[4] = {3, 41, 7, 5};
    PrintRecord r;
    r.fill(matrix, counts);
    return r;
}

}  // namespace

TEST(PrintRecord, FillTruncatesAndSortsCounts) {
    const PrintRecord r = filled(1.0, 0.99999);
    EXPECT_EQ(r.values[0][0], 32767);
    EXPECT_EQ(r.values[0][1], 32766);
    EXPECT_EQ(r.values[6][39], -32767);
    EXPECT_EQ(filled(-0.00001, 0.0).values[0][0], 0);
    EXPECT_EQ(r.counts[0], 41);
    EXPECT_EQ(r.counts[1], 7);
    EXPECT_EQ(r.counts[2], 5);
    EXPECT_EQ(r.counts[3], 3);

    double matrix[280] = {};
    const int32_t highBits[4] = {0x100 + 200, 1, 2, 3};  // only the low byte counts, compared unsigned
    PrintRecord h;
    h.fill(matrix, highBits);
    EXPECT_EQ(h.counts[0], 200);
}

TEST(PrintRecord, LayoutAndRoundTrip) {
    const PrintRecord r = filled(1.0, -1.0);
    BufferDataOutput out;
    r.write(out);
    ASSERT_EQ(out.bytes.size(), 565u);
    EXPECT_EQ(out.bytes[0], 1);
    EXPECT_EQ(out.bytes[1], 0x7F);
    EXPECT_EQ(out.bytes[2], 0xFF);
    EXPECT_EQ(out.bytes[3], 0x80);
    EXPECT_EQ(out.bytes[4], 0x01);
    EXPECT_EQ(out.bytes[559], 0x80);
    EXPECT_EQ(out.bytes[560], 0x01);
    EXPECT_EQ(out.bytes[561], 0x29);
    EXPECT_EQ(out.bytes[562], 0x07);
    EXPECT_EQ(out.bytes[563], 0x05);
    EXPECT_EQ(out.bytes[564], 0x03);

    uint8_t buffer[565];
    EXPECT_EQ(r.toBytes(nullptr), 565);
    EXPECT_EQ(r.toBytes(buffer), 565);
    EXPECT_TRUE(std::equal(buffer, buffer + 565, out.bytes.begin()));

    PrintRecord back;
    EXPECT_TRUE(back.fromBytes(buffer, 565));
    EXPECT_EQ(back.values[0][1], -32767);
    EXPECT_EQ(back.counts[0], 41);
    EXPECT_FALSE(back.fromBytes(buffer, 564));
    buffer[0] = 2;
    EXPECT_FALSE(back.fromBytes(buffer, 565));

    BufferDataInput in(out.bytes.data(), 565);
    std::unique_ptr<PrintRecord> read(PrintRecord::read(in));
    EXPECT_FALSE(in.failed());
    EXPECT_EQ(0, std::memcmp(read->values, r.values, sizeof r.values));
    EXPECT_EQ(0, std::memcmp(read->counts, r.counts, sizeof r.counts));
}

TEST(PrintRecord, ReadFlagsVersionAndSortsCounts) {
    BufferDataOutput out;
    out.writeByte(2);
    for (int i = 0; i < 280; ++i) out.writeShort(static_cast<int16_t>(i));
    for (uint8_t c : {1, 9, 4, 7}) out.writeByte(c);
    BufferDataInput in(out.bytes.data(), static_cast<int>(out.bytes.size()));
    std::unique_ptr<PrintRecord> r(PrintRecord::read(in));
    EXPECT_TRUE(in.failed());
    EXPECT_EQ(in.errorMessage(), "Unsupported version");
    EXPECT_EQ(r->values[6][39], 279);
    EXPECT_EQ(r->counts[0], 9);
    EXPECT_EQ(r->counts[3], 1);
}

TEST(ResultRecords, AnalysisAndValidationLayouts) {
    int16_t params[35] = {};
    BufferDataOutput zeros;
    writeAnalysisRecord(zeros, params);
    std::vector<uint8_t> expected(71, 0);
    expected[0] = 1;
    EXPECT_EQ(zeros.bytes, expected);

    params[34] = -1;
    BufferDataOutput last;
    writeAnalysisRecord(last, params);
    EXPECT_EQ(last.bytes[69], 0xFF);
    EXPECT_EQ(last.bytes[70], 0xFF);

    BufferDataOutput v;
    writeValidationRecord(v, 183456, -5);
    ASSERT_EQ(v.bytes.size(), 17u);
    EXPECT_EQ(v.bytes[0], 1);
    EXPECT_EQ(v.bytes[6], 0x02);
    EXPECT_EQ(v.bytes[7], 0xCC);
    EXPECT_EQ(v.bytes[8], 0xA0);
    EXPECT_EQ(v.bytes[9], 0xFF);
    EXPECT_EQ(v.bytes[16], 0xFB);
}
