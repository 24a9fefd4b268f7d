#include "audio/OggFile.h"

#include <gtest/gtest.h>

#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "Encoders.h"
#include "ReaderProbe.h"
#include "Signals.h"
#include "TestFiles.h"
#include "audio/FileFormat.h"
#include "dsp/SignalObj.h"

namespace {

// The library's float output, converted as its 16-bit path does (scaled by
// 32768, +0.5, floor, clipped); chained links keep their own channel counts.
std::vector<int16_t> floatDecode(const std::string& path) {
    std::vector<int16_t> out;
    FILE* f = std::fopen(path.c_str(), "rb");
    OggVorbis_File vf;
    if (!f || ov_open(f, &vf, nullptr, 0) < 0) {
        if (f) std::fclose(f);
        return out;
    }
    float** pcm = nullptr;
    int section = 0;
    for (long n, failures = 0; failures < 64 && (n = ov_read_float(&vf, &pcm, 1024, &section)) != 0;) {
        failures = n < 0 ? failures + 1 : 0;
        const int channels = ov_info(&vf, -1)->channels;
        for (long i = 0; i < n; ++i)
            for (int c = 0; c < channels; ++c)
                out.push_back(int16_t(std::clamp(std::floor(pcm[c][i] * 32768.0f + 0.5), -32768.0, 32767.0)));
    }
    ov_clear(&vf);
    return out;
}

// Largest difference over the first n values (any shortfall counts as a
// mismatch). The two paths round alike on this host; a 32-bit x87 build rounds
// ties to even, hence callers allow 1.
int maxDifference(const std::vector<int16_t>& a, const std::vector<int16_t>& b, size_t n) {
    if (n > std::min(a.size(), b.size())) return 1 << 16;
    int worst = 0;
    for (size_t i = 0; i < n; ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
    return worst;
}

std::vector<int16_t> tones(int channels, int rate, double seconds) {
    const auto left = test::sine(330, rate, seconds, 9000);
    return channels == 1 ? left : test::interleave(left, test::sine(550, rate, seconds, 7000));
}

}  // namespace

TEST(OggFile, DeliversTheLibrarysDecodeInterleaved) {
    test::TempDir dir;
    struct Case { int channels, rate; };
    for (Case c : {Case{1, 44100}, Case{2, 44100}, Case{1, 48000}, Case{2, 48000}}) {
        SCOPED_TRACE(testing::Message() << c.channels << " ch, " << c.rate << " Hz");
        const auto input = tones(c.channels, c.rate, 1.01);
        test::writeOggVorbis(dir.path("x.ogg"), input, c.channels, c.rate);
        const auto r = test::readThrough<OggFile>(dir.path("x.ogg"));
        ASSERT_TRUE(r.opened);
        EXPECT_TRUE(r.readOk);
        ASSERT_EQ(r.count, static_cast<int32_t>(input.size()));
        EXPECT_EQ(r.rate, c.rate);
        EXPECT_EQ(r.stereo, c.channels == 2);
        EXPECT_LE(maxDifference(r.values, floatDecode(dir.path("x.ogg")), r.count), 1);
        EXPECT_TRUE(test::unwrittenFrom(r.values, r.count));
        // Lossy but aligned with the input; a byte, channel or offset slip is not.
        double signal = 0, error = 0;
        for (size_t i = 0; i < input.size(); ++i) {
            signal += double(input[i]) * input[i];
            error += double(input[i] - r.values[i]) * (input[i] - r.values[i]);
        }
        EXPECT_GT(10 * std::log10(signal / error), 20.0);
    }
}

TEST(OggFile, ChainsAreCutOrLeftShortAtTheFirstLinksCount) {
    // The count is the whole chain's frames times the first link's channels.
    // Noise keeps each link many pages long, as the library's chain search expects.
    test::TempDir dir;
    test::writeOggVorbis(dir.path("m.ogg"), test::noise(44100, 1.0, 8000, 1), 1, 44100, 0.4f, 101);
    test::writeOggVorbis(dir.path("s.ogg"), test::noise(44100, 1.0, 8000, 2), 2, 44100, 0.4f, 202);
    const auto mono = test::readBytes(dir.path("m.ogg")), stereo = test::readBytes(dir.path("s.ogg"));
    auto chain = [](std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    test::writeBytes(dir.path("more.ogg"), chain(mono, stereo));
    test::writeBytes(dir.path("fewer.ogg"), chain(stereo, mono));

    const auto more = test::readThrough<OggFile>(dir.path("more.ogg"));
    ASSERT_EQ(more.count, 44100 + 22050);
    EXPECT_LE(maxDifference(more.values, floatDecode(dir.path("more.ogg")), more.count), 1);
    EXPECT_TRUE(test::unwrittenFrom(more.values, more.count));  // the surplus 22050 dropped

    const auto fewer = test::readThrough<OggFile>(dir.path("fewer.ogg"));
    ASSERT_EQ(fewer.count, 2 * (22050 + 44100));
    const auto decoded = floatDecode(dir.path("fewer.ogg"));
    ASSERT_EQ(decoded.size(), 44100u + 44100u);
    EXPECT_LE(maxDifference(fewer.values, decoded, decoded.size()), 1);
    EXPECT_TRUE(test::unwrittenFrom(fewer.values, decoded.size()));
}

TEST(OggFile, DamagedFilesStillReadToTheEnd) {
    test::TempDir dir;
    test::writeOggVorbis(dir.path("good.ogg"), test::noise(2 * 44100, 3.0, 8000, 3), 2, 44100);
    const auto bytes = test::readBytes(dir.path("good.ogg"));
    auto cut = bytes, holed = bytes;
    cut.resize(bytes.size() * 6 / 10);
    for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + 4000; ++i) holed[i] = uint8_t(i * 37);
    for (size_t i = bytes.size() * 3 / 10; i < bytes.size() * 7 / 10; i += 997) holed[i] ^= 0x10;
    test::writeBytes(dir.path("cut.ogg"), cut);
    test::writeBytes(dir.path("holed.ogg"), holed);
    for (const char* name : {"cut.ogg", "holed.ogg"}) {
        SCOPED_TRACE(name);
        const auto r = test::readThrough<OggFile>(dir.path(name));
        ASSERT_TRUE(r.opened);
        EXPECT_TRUE(r.readOk);
        const auto decoded = floatDecode(dir.path(name));
        const size_t n = std::min(decoded.size(), static_cast<size_t>(r.count));
        EXPECT_GT(n, 44100u);
        EXPECT_LE(maxDifference(r.values, decoded, n), 1);
        EXPECT_TRUE(test::unwrittenFrom(r.values, n));
    }
}

TEST(OggFile, OnlyReadableVorbisStreamsOpenAndLoad) {
    registerAllFormats();
    test::TempDir dir;
    std::vector<uint8_t> mpeg;  // Layer III frame headers (128 kbit/s, 44.1 kHz), empty frames
    for (int frame = 0; frame < 40; ++frame) {
        mpeg.insert(mpeg.end(), {0xFF, 0xFB, 0x90, 0x64});
        mpeg.resize(mpeg.size() + 413, 0);
    }
    test::writeBytes(dir.path("mpeg.ogg"), mpeg);
    test::writeBytes(dir.path("empty.ogg"), {});
    test::writeFlac(dir.path("flac.ogg"), tones(1, 44100, 0.1), 1, 44100);
    test::writeOggVorbis(dir.path("song.OGG"), tones(2, 44100, 1.0), 2, 44100);
    auto header = test::readBytes(dir.path("song.OGG"));
    header.resize(60);  // cut inside the identification header
    test::writeBytes(dir.path("header.ogg"), header);
    for (const char* name : {"missing.ogg", "mpeg.ogg", "empty.ogg", "flac.ogg", "header.ogg"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(test::readThrough<OggFile>(dir.path(name)).opened);
    }

    // The name picks the format and no other is tried when its reader fails.
    const std::string impostor = dir.path("mpeg.ogg"), song = dir.path("song.OGG");
    const Quavertone::FileFormat* format = findFormat(impostor.c_str(), impostor.size());
    ASSERT_NE(format, nullptr);
    EXPECT_STREQ(format->name(), "Ogg Vorbis");
    SignalObj untouched, whole, cropped;
    EXPECT_FALSE(format->load(untouched, impostor.c_str(), -1));
    EXPECT_EQ(untouched.data, nullptr);

    ASSERT_EQ(findFormat(song.c_str(), song.size()), format);
    ASSERT_TRUE(format->load(whole, song.c_str(), -1));
    EXPECT_EQ(whole.rate, 44100);
    EXPECT_TRUE(whole.wasStereo);
    ASSERT_EQ(whole.length, 44100);
    EXPECT_LE(maxDifference({whole.data, whole.data + whole.elementCount}, floatDecode(song), 88200), 1);
    ASSERT_TRUE(loadOggFile(cropped, song.c_str(), 100.0));
    EXPECT_EQ(cropped.length, 4410);
}
