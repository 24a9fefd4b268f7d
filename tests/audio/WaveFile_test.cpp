#include "audio/WaveFile.h"

#include <gtest/gtest.h>

#include "TestFiles.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Header {
    int format = 1, channels = 2, rate = 44100, bits = 16;
    uint32_t fmtSize = 16;
    int32_t dataSize = 8;
    const char* between = nullptr;  // a chunk id placed between "fmt " and "data"
};

Bytes wave(const Header& h, const Bytes& payload = {}) {
    Bytes b;
    auto put = [&](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) b.push_back(uint8_t(v >> (8 * i)));
    };
    auto tag = [&](const char* t) { put(uint32_t(t[0] | t[1] << 8 | t[2] << 16 | t[3] << 24), 4); };
    tag("RIFF"), put(0, 4), tag("WAVE"), tag("fmt "), put(h.fmtSize, 4);
    put(h.format, 2), put(h.channels, 2), put(h.rate, 4), put(h.rate * h.channels * h.bits / 8, 4);
    put(h.channels * h.bits / 8, 2), put(h.bits, 2);
    b.resize(b.size() + h.fmtSize - 16, 0);
    if (h.between) tag(h.between), put(4, 4), put(0, 4);
    tag("data"), put(static_cast<uint32_t>(h.dataSize), 4);
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

}  // namespace

TEST(WaveFile, ReadsOnlyCanonical16BitPcm) {
    test::TempDir dir;
    const std::string path = dir.path("x.wav");
    test::writeBytes(path, wave({1, 2, 44100, 16, 16, 400000}));
    WaveFile r;
    ASSERT_TRUE(r.open(path.c_str()));
    EXPECT_EQ(r.sampleCount(), 200000);  // from the data size, not the file's length
    EXPECT_TRUE(r.isStereo());
    EXPECT_EQ(r.sampleRate(), 44100);

    // A longer fmt chunk is passed over; an odd data size drops its last byte.
    test::writeBytes(path, wave({1, 1, 44100, 16, 18, 5}, {0x01, 0x02, 0xFF, 0xFF, 0x7F}));
    WaveFile m;
    ASSERT_TRUE(m.open(path.c_str()));
    EXPECT_EQ(m.sampleCount(), 2);
    EXPECT_FALSE(m.isStereo());
    std::vector<int16_t> out = {0, 0, 99};
    EXPECT_TRUE(m.readAll(out.data()));
    EXPECT_EQ(out, (std::vector<int16_t>{0x0201, -1, 99}));  // little-endian in the file

    Bytes notRiff = wave(Header{});
    notRiff[0] = 'X';
    const std::pair<const char*, Bytes> rejected[] = {
        {"8-bit", wave({1, 2, 44100, 8})},
        {"24-bit", wave({1, 2, 44100, 24})},
        {"float", wave({3, 2, 44100, 16})},
        {"extensible", wave({0xFFFE, 2, 44100, 16})},
        {"three channels", wave({1, 3, 44100, 16})},
        {"LIST chunk before data", wave({1, 2, 44100, 16, 16, 8, "LIST"})},
        {"short", Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'}},
        {"not RIFF", notRiff},
    };
    for (const auto& [what, file] : rejected) {
        test::writeBytes(path, file);
        EXPECT_FALSE(WaveFile().open(path.c_str())) << what;
    }
    EXPECT_FALSE(WaveFile().open(dir.path("absent.wav").c_str()));
}
