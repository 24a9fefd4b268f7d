#include "io/PrintRecord.h"

#include <gtest/gtest.h>

#include "io/DataOutput.h"

using Bytes = std::vector<uint8_t>;

TEST(PrintRecord, FillWritesTheWholeRecord) {
    double matrix[280] = {};
    matrix[0] = 1.0;
    matrix[1] = 0.99999;   // 32766.67 truncates to 32766
    matrix[2] = -0.00001;  // truncates to 0, not -1
    matrix[41] = -0.5;     // row 1, column 1
    matrix[279] = -1.0;
    const int32_t counts[4] = {3, 0x100 + 41, 7, 5};  // only the low byte counts
    PrintRecord r;
    r.fill(matrix, counts);

    Bytes expected(565, 0);
    auto put16 = [&](size_t at, int v) { expected[at] = uint8_t(v >> 8), expected[at + 1] = uint8_t(v); };
    expected[0] = 1;
    put16(1, 32767), put16(3, 32766), put16(1 + 2 * 41, -16383), put16(559, -32767);
    expected[561] = 41, expected[562] = 7, expected[563] = 5, expected[564] = 3;  // descending
    BufferDataOutput out;
    r.write(out);
    EXPECT_EQ(out.bytes, expected);
}

TEST(ResultRecords, AnalysisAndValidationLayouts) {
    int16_t params[35] = {};
    params[0] = 0x1234;
    params[34] = -1;
    BufferDataOutput analysis;
    writeAnalysisRecord(analysis, params);
    Bytes expected(71, 0);
    expected[0] = 1, expected[1] = 0x12, expected[2] = 0x34, expected[69] = 0xFF, expected[70] = 0xFF;
    EXPECT_EQ(analysis.bytes, expected);

    BufferDataOutput validation;
    writeValidationRecord(validation, 183456, -5);
    EXPECT_EQ(validation.bytes, (Bytes{1, 0, 0, 0, 0, 0, 0x02, 0xCC, 0xA0,
                                       0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFB}));
}
