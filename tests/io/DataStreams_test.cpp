#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <numeric>

#include "TestFiles.h"
#include "io/DataInput.h"
#include "io/DataOutput.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytesOf(const std::function<void(DataOutput&)>& write) {
    BufferDataOutput out;
    write(out);
    return out.bytes;
}

}  // namespace

TEST(DataOutput, BigEndianFieldsAndModifiedUtf8) {
    const std::pair<std::function<void(DataOutput&)>, Bytes> cases[] = {
        {[](DataOutput& o) { o.writeShort(-2); }, {0xFF, 0xFE}},
        {[](DataOutput& o) { o.writeInt(-0x12345678); }, {0xED, 0xCB, 0xA9, 0x88}},
        {[](DataOutput& o) { o.writeLong(183456); }, {0, 0, 0, 0, 0, 0x02, 0xCC, 0xA0}},
        {[](DataOutput& o) { o.writeDouble(1.0); }, {0x3F, 0xF0, 0, 0, 0, 0, 0, 0}},
        {[](DataOutput& o) { o.writeBoolean(true), o.writeBoolean(false); }, {1, 0}},
        {[](DataOutput& o) { o.writeUTF("A\xE9"); }, {0x00, 0x03, 'A', 0xC3, 0xA9}},  // Latin-1 in
        // No 4-byte form: U+1F600 is written from its low 16 bits (0xF600).
        {[](DataOutput& o) { o.writeUTF(U"\U0001F600"); }, {0x00, 0x03, 0xEF, 0x98, 0x80}},
    };
    for (const auto& [write, expected] : cases) EXPECT_EQ(bytesOf(write), expected);
    BufferDataOutput out;
    EXPECT_THROW(out.writeUTF(std::string(32768, '\xE9').c_str()), const char*);  // 65536 bytes
    EXPECT_TRUE(out.bytes.empty());
    out.writeUTF(std::string(65535, 'a').c_str());
    EXPECT_EQ(out.bytes.size(), 65537u);
}

TEST(DataInput, ReadsWhatOutputWroteAndKeepsTheFirstFailure) {
    BufferDataOutput out;
    out.writeByte(0xFF), out.writeShort(-2), out.writeInt(-123456789), out.writeLong(-9876543210123LL);
    out.writeDouble(-0.125), out.writeUTF("caf\xE9"), out.writeUTF(U"\u010D\u0159x\u20AC");
    out.bytes.insert(out.bytes.end(), {0x00, 0x04, 'a', 0x80, 'b', 'c'});  // decoding stops at 0x80
    BufferDataInput in(out.bytes.data(), static_cast<int>(out.bytes.size()));
    EXPECT_EQ(in.readByte(), 255);
    EXPECT_EQ(in.readShort(), -2);
    EXPECT_EQ(in.readInt(), -123456789);
    EXPECT_EQ(in.readLong(), -9876543210123LL);
    EXPECT_EQ(in.readDouble(), -0.125);
    EXPECT_STREQ(std::unique_ptr<char[]>(in.readUTF()).get(), "caf\xE9");
    EXPECT_STREQ(std::unique_ptr<char[]>(in.readUTF()).get(), "crx\xAC");  // carons fold to c and r
    EXPECT_EQ(std::u32string(std::unique_ptr<char32_t[]>(in.readUTFWide()).get()), U"a");
    EXPECT_FALSE(in.failed());
    EXPECT_FALSE(in.checkVersion("fingerprint", 3, 1));
    in.setError("later");  // the first failure's message stays
    EXPECT_EQ(in.errorMessage(), "Invalid version in fingerprint: 3");
}

TEST(FileDataOutput, OverwritesWithoutTruncatingAndBuffersUntilFullOrClosed) {
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

    auto f = std::make_unique<FileDataOutput>();
    ASSERT_TRUE(f->open(fresh.c_str()));
    for (int i = 0; i < 2047; ++i) f->writeByte(1);
    EXPECT_EQ(test::readBytes(fresh).size(), 0u);
    f->writeByte(2);  // the 2048th byte flushes
    EXPECT_EQ(test::readBytes(fresh).size(), 2048u);
    f->writeByte(3);
    f.reset();  // destroyed without close: the last byte is lost
    EXPECT_EQ(test::readBytes(fresh).size(), 2048u);
    struct stat st;
    ASSERT_EQ(::stat(fresh.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_FALSE(FileDataOutput().open(dir.path("missing/x").c_str()));
}

TEST(FileDataInput, ReadsAcrossRefillsAndFailsPastTheEnd) {
    test::TempDir dir;
    Bytes big(5000);
    std::generate(big.begin(), big.end(), [i = 0]() mutable { return uint8_t(7 * i++); });
    test::writeBytes(dir.path("data"), big);
    FileDataInput in;
    ASSERT_TRUE(in.open(dir.path("data").c_str()));
    Bytes got(5000);
    EXPECT_EQ(in.read(got.data(), 5000), 5000);  // three buffer refills
    EXPECT_EQ(got, big);
    EXPECT_FALSE(in.failed());
    in.readByte();
    EXPECT_EQ(in.errorMessage(), "Too few bytes");
    EXPECT_FALSE(FileDataInput().open(dir.path("nope").c_str()));
}
