#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <numeric>

#include "TestFiles.h"
#include "io/DataOutput.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytesOf(const std::function<void(DataOutput&)>& write) {
    BufferDataOutput out;
    write(out);
    return out.bytes;
}

}  // namespace

TEST(DataOutput, BigEndianFields) {
    const std::pair<std::function<void(DataOutput&)>, Bytes> cases[] = {
        {[](DataOutput& o) { o.writeShort(-2); }, {0xFF, 0xFE}},
        {[](DataOutput& o) { o.writeInt(-0x12345678); }, {0xED, 0xCB, 0xA9, 0x88}},
        {[](DataOutput& o) { o.writeLong(183456); }, {0, 0, 0, 0, 0, 0x02, 0xCC, 0xA0}},
        {[](DataOutput& o) { o.writeBoolean(true), o.writeBoolean(false); }, {1, 0}},
    };
    for (const auto& [write, expected] : cases) EXPECT_EQ(bytesOf(write), expected);
}

TEST(FileDataOutput, OverwritesWithoutTruncatingAndCreatesPrivateFiles) {
    test::TempDir dir;
    const std::string path = dir.path("record"), fresh = dir.path("fresh");
    test::writeBytes(path, Bytes(100, 0xAA));
    FileDataOutput out;
    ASSERT_TRUE(out.open(path.c_str()));
    for (int i = 0; i < 17; ++i) out.writeByte(static_cast<uint8_t>(i));
    out.close();
    out.close();  // a second close does nothing
    Bytes expected(100, 0xAA);
    std::iota(expected.begin(), expected.begin() + 17, 0);
    EXPECT_EQ(test::readBytes(path), expected);

    Bytes big(3000);  // past the 2048-byte buffer
    std::iota(big.begin(), big.end(), 0);
    FileDataOutput f;
    ASSERT_TRUE(f.open(fresh.c_str()));
    for (uint8_t b : big) f.writeByte(b);
    f.close();
    EXPECT_EQ(test::readBytes(fresh), big);
    struct stat st;
    ASSERT_EQ(::stat(fresh.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_FALSE(FileDataOutput().open(dir.path("missing/x").c_str()));
}
