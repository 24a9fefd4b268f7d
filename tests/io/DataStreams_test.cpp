#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <string>

#include "TestFiles.h"
#include "io/DataInput.h"
#include "io/DataOutput.h"

namespace {

std::vector<uint8_t> bytesOf(void (*fn)(DataOutput&)) {
    BufferDataOutput out;
    fn(out);
    return out.bytes;
}

using Bytes = std::vector<uint8_t>;

}  // namespace

TEST(DataOutput, IntegersAreBigEndianTwosComplement) {
    EXPECT_EQ(bytesOf([](DataOutput& o) { o.writeShort(-2); }), (Bytes{0xFF, 0xFE}));
    EXPECT_EQ(bytesOf([](DataOutput& o) { o.writeShort(0x1234); }), (Bytes{0x12, 0x34}));
    EXPECT_EQ(bytesOf([](DataOutput& o) { o.writeInt(-0x12345678); }), (Bytes{0xED, 0xCB, 0xA9, 0x88}));
    EXPECT_EQ(bytesOf([](DataOutput& o) { o.writeLong(-1); }), Bytes(8, 0xFF));
    EXPECT_EQ(bytesOf([](DataOutput& o) { o.writeLong(1); }), (Bytes{0, 0, 0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(bytesOf([](DataOutput& o) { o.writeLong(183456); }), (Bytes{0, 0, 0, 0, 0, 0x02, 0xCC, 0xA0}));
    EXPECT_EQ(bytesOf([](DataOutput& o) { o.writeDouble(1.0); }), (Bytes{0x3F, 0xF0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(bytesOf([](DataOutput& o) { o.writeBoolean(true); o.writeBoolean(false); }), (Bytes{1, 0}));
}

TEST(DataOutput, ModifiedUtf8Forms) {
    EXPECT_EQ(bytesOf([](DataOutput& o) { o.writeUTF("\xE9"); }), (Bytes{0x00, 0x02, 0xC3, 0xA9}));
    EXPECT_EQ(bytesOf([](DataOutput& o) { o.writeUTF("Ab"); }), (Bytes{0x00, 0x02, 'A', 'b'}));
    EXPECT_EQ(bytesOf([](DataOutput& o) { o.writeUTF(U"\u20AC"); }), (Bytes{0x00, 0x03, 0xE2, 0x82, 0xAC}));
    // No 4-byte form: U+1F600 is written from its low 16 bits (0xF600).
    EXPECT_EQ(bytesOf([](DataOutput& o) { o.writeUTF(U"\U0001F600"); }), (Bytes{0x00, 0x03, 0xEF, 0x98, 0x80}));

    BufferDataOutput out;
    const std::string tooLong(32768, '\xE9');  // 65536 encoded bytes
    EXPECT_THROW(out.writeUTF(tooLong.c_str()), const char*);
    EXPECT_TRUE(out.bytes.empty());
    const std::string longest(65535, 'a');
    EXPECT_NO_THROW(out.writeUTF(longest.c_str()));
    EXPECT_EQ(out.bytes.size(), 65537u);
}

TEST(DataInput, ReadsWhatOutputWrote) {
    BufferDataOutput out;
    out.writeByte(0xFF);
    out.writeShort(-2);
    out.writeInt(-123456789);
    out.writeLong(-9876543210123LL);
    out.writeDouble(-0.125);
    out.writeUTF("caf\xE9");
    out.writeUTF(U"\u010D\u0159x\u20AC");
    BufferDataInput in(out.bytes.data(), static_cast<int>(out.bytes.size()));
    EXPECT_EQ(in.readByte(), 255);
    EXPECT_EQ(in.readShort(), -2);
    EXPECT_EQ(in.readInt(), -123456789);
    EXPECT_EQ(in.readLong(), -9876543210123LL);
    EXPECT_EQ(in.readDouble(), -0.125);
    std::unique_ptr<char[]> narrow(in.readUTF());
    EXPECT_STREQ(narrow.get(), "caf\xE9");
    std::unique_ptr<char[]> folded(in.readUTF());
    EXPECT_STREQ(folded.get(), "crx\xAC");  // c-caron and r-caron fold to c and r
    EXPECT_FALSE(in.failed());
}

TEST(DataInput, StopsAtAnInvalidLeadByte) {
    const Bytes bytes{0x00, 0x04, 'a', 0x80, 'b', 'c'};
    BufferDataInput in(bytes.data(), static_cast<int>(bytes.size()));
    std::unique_ptr<char32_t[]> wide(in.readUTFWide());
    EXPECT_EQ(std::u32string(wide.get()), U"a");
}

TEST(DataInput, FirstFailureIsKept) {
    BufferDataInput in(nullptr, 0);
    EXPECT_FALSE(in.checkVersion("fingerprint", 3, 1));
    in.setError("later");
    EXPECT_TRUE(in.failed());
    EXPECT_EQ(in.errorMessage(), "Invalid version in fingerprint: 3");
}

TEST(FileDataOutput, DoesNotTruncateAndWritesOnClose) {
    test::TempDir dir;
    const std::string path = dir.path("record");
    test::writeBytes(path, Bytes(100, 0xAA));
    FileDataOutput out;
    ASSERT_TRUE(out.open(path.c_str()));
    for (int i = 0; i < 17; ++i) out.writeByte(static_cast<uint8_t>(i));
    out.close();
    out.close();  // a second close does nothing
    const Bytes got = test::readBytes(path);
    ASSERT_EQ(got.size(), 100u);
    for (int i = 0; i < 17; ++i) EXPECT_EQ(got[i], i);
    EXPECT_EQ(got[17], 0xAA);

    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    const std::string created = dir.path("new");
    FileDataOutput fresh;
    ASSERT_TRUE(fresh.open(created.c_str()));
    fresh.close();
    ASSERT_EQ(::stat(created.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(FileDataOutput, BuffersUntilFullOrClosed) {
    test::TempDir dir;
    const std::string path = dir.path("out");
    {
        FileDataOutput out;
        ASSERT_TRUE(out.open(path.c_str()));
        for (int i = 0; i < 2047; ++i) out.writeByte(1);
        EXPECT_EQ(test::readBytes(path).size(), 0u);  // nothing reaches the file yet
        out.writeByte(2);                              // the 2048th byte flushes
        EXPECT_EQ(test::readBytes(path).size(), 2048u);
        out.writeByte(3);
        // destroyed without close: the buffered byte is lost
    }
    EXPECT_EQ(test::readBytes(path).size(), 2048u);
    EXPECT_FALSE(FileDataOutput().open((dir.path("missing") + "/x").c_str()));
}

TEST(FileDataInput, EmptyAndShortFiles) {
    test::TempDir dir;
    const std::string path = dir.path("empty");
    test::writeBytes(path, {});
    FileDataInput in;
    ASSERT_TRUE(in.open(path.c_str()));
    in.readByte();
    EXPECT_TRUE(in.failed());
    EXPECT_EQ(in.errorMessage(), "Too few bytes");

    Bytes big(5000);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7);
    test::writeBytes(path, big);
    FileDataInput across;
    ASSERT_TRUE(across.open(path.c_str()));
    Bytes got(5000);
    EXPECT_EQ(across.read(got.data(), 5000), 5000);  // spans three buffer refills
    EXPECT_EQ(got, big);
    EXPECT_FALSE(across.failed());
    EXPECT_FALSE(FileDataInput().open(dir.path("nope").c_str()));
}
