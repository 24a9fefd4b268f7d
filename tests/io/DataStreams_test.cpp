#include <gtest/gtest.h>
#include <sys/stat.h>

#include "TestFiles.h"
#include "io/DataOutput.h"

using Bytes = std::vector<uint8_t>;

// Shorts and longs are checked through the records that use them.
TEST(DataOutput, IntIsBigEndian) {
    BufferDataOutput out;
    out.writeInt(-0x12345678);
    EXPECT_EQ(out.bytes, (Bytes{0xED, 0xCB, 0xA9, 0x88}));
}

// 3000 bytes run past the 2048-byte buffer; a second close does nothing.
TEST(FileDataOutput, OverwritesWithoutTruncatingAndCreatesPrivateFiles) {
    test::TempDir dir;
    const std::string existing = dir.path("record"), fresh = dir.path("fresh");
    test::writeBytes(existing, Bytes(3100, 0xAA));
    Bytes big(3000);
    for (size_t i = 0; i < big.size(); ++i) big[i] = uint8_t(i);
    for (const std::string& path : {existing, fresh}) {
        FileDataOutput out;
        ASSERT_TRUE(out.open(path.c_str()));
        for (uint8_t b : big) out.writeByte(b);
        out.close();
        out.close();
    }
    EXPECT_EQ(test::readBytes(fresh), big);
    big.resize(3100, 0xAA);
    EXPECT_EQ(test::readBytes(existing), big);
    struct stat st;
    ASSERT_EQ(::stat(fresh.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_FALSE(FileDataOutput().open(dir.path("missing/x").c_str()));
}
