#include <gtest/gtest.h>

#include <cstring>

#include "Signals.h"
#include "TestFiles.h"
#include "audio/FileFormat.h"
#include "audio/WaveFile.h"
#include "dsp/SignalObj.h"

namespace {

using Bytes = std::vector<uint8_t>;

void put16(Bytes& b, uint32_t v) {
    b.push_back(v & 0xFF);
    b.push_back((v >> 8) & 0xFF);
}
void put32(Bytes& b, uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}
void tag(Bytes& b, const char* t) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(t[i]));
}

struct Header {
    int format = 1, channels = 2, rate = 44100, bits = 16;
    uint32_t fmtSize = 16;
    int32_t dataSize = 8;
    const char* between = nullptr;  // a chunk id placed between "fmt " and "data"
};

Bytes wave(const Header& h, const Bytes& payload = {}) {
    Bytes b;
    tag(b, "RIFF");
    put32(b, 0);
    tag(b, "WAVE");
    tag(b, "fmt ");
    put32(b, h.fmtSize);
    put16(b, h.format);
    put16(b, h.channels);
    put32(b, h.rate);
    put32(b, h.rate * h.channels * h.bits / 8);
    put16(b, h.channels * h.bits / 8);
    put16(b, h.bits);
    for (uint32_t i = 16; i < h.fmtSize; ++i) b.push_back(0);
    if (h.between) {
        tag(b, h.between);
        put32(b, 4);
        put32(b, 0);
    }
    tag(b, "data");
    put32(b, static_cast<uint32_t>(h.dataSize));
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

bool opens(const Bytes& file, WaveFile& reader, test::TempDir& dir) {
    const std::string path = dir.path("x.wav");
    test::writeBytes(path, file);
    return reader.open(path.c_str());
}

}  // namespace

TEST(WaveFile, AcceptsOnlyCanonical16BitPcm) {
    test::TempDir dir;
    {
        WaveFile r;
        Header h;
        h.dataSize = 400000;
        ASSERT_TRUE(opens(wave(h), r, dir));
        EXPECT_EQ(r.sampleCount(), 200000);
        EXPECT_TRUE(r.isStereo());
        EXPECT_EQ(r.sampleRate(), 44100);
    }
    struct Case { const char* what; Header h; } rejected[] = {
        {"8-bit", {1, 2, 44100, 8}},
        {"24-bit", {1, 2, 44100, 24}},
        {"float", {3, 2, 44100, 16}},
        {"extensible", {0xFFFE, 2, 44100, 16}},
        {"three channels", {1, 3, 44100, 16}},
        {"LIST chunk before data", {1, 2, 44100, 16, 16, 8, "LIST"}},
    };
    for (const auto& c : rejected) {
        SCOPED_TRACE(c.what);
        WaveFile r;
        EXPECT_FALSE(opens(wave(c.h), r, dir));
    }
    WaveFile shortFile;
    EXPECT_FALSE(opens(Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'}, shortFile, dir));
    Bytes notRiff = wave(Header{});
    notRiff[0] = 'X';
    WaveFile bad;
    EXPECT_FALSE(opens(notRiff, bad, dir));
    WaveFile missing;
    EXPECT_FALSE(missing.open(dir.path("absent.wav").c_str()));
}

TEST(WaveFile, LongFmtChunkAndOddDataSize) {
    test::TempDir dir;
    Header h;
    h.channels = 1;
    h.fmtSize = 18;
    h.dataSize = 5;
    WaveFile r;
    ASSERT_TRUE(opens(wave(h, {0x01, 0x02, 0xFF, 0xFF, 0x7F}), r, dir));
    EXPECT_EQ(r.sampleCount(), 2);  // odd byte dropped
    EXPECT_FALSE(r.isStereo());
    int16_t out[3] = {0, 0, 99};
    EXPECT_TRUE(r.readAll(out));
    EXPECT_EQ(out[0], 0x0201);  // little-endian in the file
    EXPECT_EQ(out[1], -1);
    EXPECT_EQ(out[2], 99);
}

TEST(WaveFile, LoadFillsSignalAndCrops) {
    registerAllFormats();
    test::TempDir dir;
    const auto left = test::sine(440, 8000, 3.0), right = test::noise(8000, 3.0, 1000);
    const std::string path = dir.path("song.wav");
    test::writeWav(path, test::interleave(left, right), 8000, 2);
    const auto* format = findFormat(path.c_str(), path.size());
    ASSERT_NE(format, nullptr);
    EXPECT_STREQ(format->name(), "Wave");

    for (double maxMs : {-1.0, 0.0, 3000.0}) {
        SignalObj whole;
        ASSERT_TRUE(format->load(whole, path.c_str(), maxMs));
        EXPECT_EQ(whole.length, 24000);
        EXPECT_EQ(whole.width, 2);
        EXPECT_TRUE(whole.wasStereo);
        EXPECT_EQ(whole.data[2 * 100], left[100]);
        EXPECT_EQ(whole.data[2 * 23999 + 1], right[23999]);
    }
    SignalObj cropped;
    ASSERT_TRUE(format->load(cropped, path.c_str(), 1500.0));
    EXPECT_EQ(cropped.length, 12000);
    EXPECT_DOUBLE_EQ(cropped.durationMs, 3000.0);  // recorded before the crop
    EXPECT_EQ(cropped.data[2 * 11999], left[11999]);
}

TEST(WaveFile, DeclaredLongerThanFileStillLoads) {
    registerAllFormats();
    test::TempDir dir;
    Header h;
    h.channels = 1;
    h.rate = 1000;
    h.dataSize = 2000;  // 1000 samples announced, 2 present
    const std::string path = dir.path("short.wav");
    test::writeBytes(path, wave(h, {0x10, 0x00, 0x20, 0x00}));
    SignalObj s;
    ASSERT_TRUE(findFormat(path.c_str(), path.size())->load(s, path.c_str(), -1));
    EXPECT_EQ(s.length, 1000);
    EXPECT_EQ(s.data[1], 0x20);
    EXPECT_EQ(s.data[999], 0);  // undelivered samples are silence
}

TEST(FormatRegistry, ChoosesByNameInFixedOrder) {
    registerAllFormats();
    registerAllFormats();  // registering twice must not duplicate entries
    auto nameOf = [](const char* path) -> std::string {
        const auto* f = findFormat(path, std::strlen(path));
        return f ? f->name() : "none";
    };
    EXPECT_EQ(nameOf("song.MP3"), "MP3");
    EXPECT_EQ(nameOf(".mp3"), "none");
    EXPECT_EQ(nameOf("a.wave"), "Wave");
    EXPECT_EQ(nameOf(".wave"), "none");
    EXPECT_EQ(nameOf("a.WAV"), "Wave");
    EXPECT_EQ(nameOf("a.wav.txt"), "none");
    EXPECT_EQ(nameOf("x.ogg"), "Ogg Vorbis");
    EXPECT_EQ(nameOf("x.fla"), "FLAC");
    EXPECT_EQ(nameOf("x.Flac"), "FLAC");
    EXPECT_EQ(nameOf("album.flac#2"), "FLAC");
    EXPECT_EQ(nameOf("album.FLAC#10"), "FLAC");
    EXPECT_EQ(nameOf("album.flac2"), "none");
    EXPECT_EQ(nameOf("dir.flac#1/song.wav"), "Wave");
    EXPECT_EQ(nameOf(""), "none");

    const auto* flac = findFormat("a.flac", 6);
    ASSERT_NE(flac, nullptr);
    EXPECT_STREQ(flac->extensions()[0], ".flac");
    EXPECT_STREQ(flac->extensions()[1], ".fla");
    EXPECT_EQ(flac->extensions()[2], nullptr);
    EXPECT_FALSE(flac->capability());
    EXPECT_TRUE(findFormat("a.wav", 5)->capability());
    EXPECT_EQ(flac->tagReader("a.flac", false), nullptr);
    flac->release(nullptr);
}
