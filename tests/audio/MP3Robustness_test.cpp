#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "audio/mp3/FrameHeader.h"
#include "audio/mp3/MP3File.h"
#include "dsp/SignalObj.h"
#include "support/TestFiles.h"
#include "support/MP3Fixtures.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Header words: MPEG-1 Layer III 128 kbit/s 44.1 kHz (417-byte frames),
// single channel or stereo; MPEG-2 Layer III 64 kbit/s 22.05 kHz (208 bytes).
constexpr uint32_t kMono44 = 0xFFFB90C0;
constexpr uint32_t kStereo44 = 0xFFFB9000;
constexpr uint32_t kMono22 = 0xFFF380C0;

int frameSize(uint32_t header) {
    mp3::FrameHeader h;
    h.decode(header);
    return h.frame_size();
}

// A frame of the header's size; the bytes after the header come from fill
// (zeros: empty side information and main data, which decode to silence).
// Headers without a frame length (free format, index 15) get 417 bytes.
Bytes frame(uint32_t header, uint8_t fill = 0) {
    const int size = frameSize(header);
    Bytes f(size_t(size > 0 ? size : 417), fill);
    for (int i = 0; i < 4; ++i) f[size_t(i)] = uint8_t(header >> (24 - 8 * i));
    return f;
}

Bytes frames(uint32_t header, int n) {
    Bytes out;
    for (int i = 0; i < n; ++i) {
        const Bytes f = frame(header);
        out.insert(out.end(), f.begin(), f.end());
    }
    return out;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes prefix(const Bytes& b, size_t n) { return Bytes(b.begin(), b.begin() + std::ptrdiff_t(n)); }

Bytes id3v2(uint32_t size, uint8_t flags = 0) {
    Bytes t = {'I', 'D', '3', 3, 0, flags, uint8_t((size >> 21) & 0x7F), uint8_t((size >> 14) & 0x7F),
               uint8_t((size >> 7) & 0x7F), uint8_t(size & 0x7F)};
    t.resize(10 + size, 0);
    return t;
}

}  // namespace

TEST(MP3Reader, CountsSamplesOfEveryFrame) {
    struct Case {
        uint32_t header;
        int frames;
        int rate, channels, perFrame;
    };
    for (const Case& c : {Case{kMono44, 7, 44100, 1, 1152}, Case{kStereo44, 5, 44100, 2, 1152},
                          Case{kMono22, 9, 22050, 1, 576}}) {
        SCOPED_TRACE(c.header);
        const test::Mp3Decode d = test::decodeMp3Bytes(frames(c.header, c.frames));
        ASSERT_TRUE(d.ok) << d.error;
        EXPECT_EQ(d.rate, c.rate);
        EXPECT_EQ(d.channels, c.channels);
        EXPECT_EQ(d.pcm.size(), size_t(c.frames * c.perFrame * c.channels));
    }
}

TEST(MP3Reader, SkipsAnId3v2TagBeforeTheFirstHeader) {
    // A 48 kHz header inside the tag would be taken if the skip went wrong.
    Bytes tag = id3v2(300);
    const Bytes fake = frame(0xFFFB94C0);
    std::copy(fake.begin(), fake.begin() + 200, tag.begin() + 20);
    for (uint8_t flags : {uint8_t(0), uint8_t(0x40)}) {
        SCOPED_TRACE(int(flags));
        tag[5] = flags;
        const test::Mp3Decode d = test::decodeMp3Bytes(tag + frames(kMono44, 3));
        ASSERT_TRUE(d.ok) << d.error;
        EXPECT_EQ(d.rate, 44100);
        EXPECT_EQ(d.pcm.size(), 3u * 1152u);
    }
    // Version 4 and above are not skipped: the search slides through the
    // tag instead and meets the 48 kHz Layer III header first.
    tag[3] = 4;
    const test::Mp3Decode d = test::decodeMp3Bytes(tag + frames(kMono44, 3));
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.rate, 48000);
}

TEST(MP3Reader, StreamsWithoutAFrameDoNotLoad) {
    Bytes pastEnd = id3v2(0);
    pastEnd[6] = 0x7F;  // a tag size far beyond the file
    const std::vector<std::pair<const char*, Bytes>> cases = {
        {"4096 zero bytes", Bytes(4096, 0)},
        {"empty", Bytes()},
        {"tag size past the end", pastEnd + frames(kMono44, 2)},
        {"free format", frame(0xFFFB00C0) + frame(0xFFFB00C0)},
        {"header of a truncated frame", prefix(frame(kMono44), 100)},
        {"text", Bytes{'h', 'e', 'l', 'l', 'o'}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        const test::Mp3Decode d = test::decodeMp3Bytes(c.second);
        EXPECT_FALSE(d.ok);
        EXPECT_EQ(d.error, "");
    }
}

TEST(MP3Reader, ThrowsTheDocumentedErrors) {
    EXPECT_EQ(test::decodeMp3Bytes(Bytes{0xFF, 0xE3, 0x90, 0xC0} + Bytes(400, 0)).error,
              "Format not supported: MPEG 2.5");
    // The MPEG 2.5 test looks at the first candidate position only.
    const test::Mp3Decode later = test::decodeMp3Bytes(Bytes{0, 0xFF, 0xE3, 0x90, 0xC0} + frames(kMono44, 2));
    EXPECT_EQ(later.error, "");
    EXPECT_TRUE(later.ok);
    EXPECT_EQ(test::decodeMp3Bytes(frame(0xFFF990C0)).error, "unknown layer identifier found!\n");
    EXPECT_EQ(test::decodeMp3Bytes(frames(kMono44, 2) + frame(0xFFF990C0)).error,
              "unknown layer identifier found!\n");

    MP3File reader;
    reader.open("/nonexistent/dir/x.mp3");
    try {
        reader.prepare();
        ADD_FAILURE() << "no exception";
    } catch (const char* text) {
        EXPECT_STREQ(text, "file could not be opened.\n");
    }
}

TEST(MP3Reader, DecodingEndsAtTruncationFreeFormatAndForbiddenBitrate) {
    const Bytes three = frames(kMono44, 3);
    const Bytes cut = prefix(frame(kMono44), 200);
    for (const Bytes& tail : {cut, frame(0xFFFB00C0) + frames(kMono44, 2), frame(0xFFFBF0C0) + frames(kMono44, 2)}) {
        const test::Mp3Decode d = test::decodeMp3Bytes(three + tail);
        ASSERT_TRUE(d.ok) << d.error;
        EXPECT_EQ(d.pcm.size(), 3u * 1152u);
    }
}

TEST(MP3Reader, JunkBetweenFramesIsPassedOver) {
    Bytes junk(333);
    std::mt19937 rng(7);
    for (uint8_t& b : junk) b = uint8_t(rng() % 0xF0);  // never a sync byte
    // A 48 kHz Layer II header in the junk: it matches neither the stream's
    // sampling frequency nor the rule for candidates found after sliding.
    const Bytes layer2 = {0xFF, 0xFD, 0x84, 0xC0};
    const test::Mp3Decode d =
        test::decodeMp3Bytes(frames(kMono44, 2) + junk + layer2 + junk + frames(kMono44, 3) + Bytes(128, 'T'));
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.pcm.size(), 5u * 1152u);
}

TEST(MP3Reader, LayerIIStreamsAtEveryRateStartWhereExpected) {
    // Clean Layer II streams at 48, 32, 24 and 16 kHz load (Layer I/II header
    // words, single channel, 64 kbit/s).
    for (uint32_t header : {0xFFFD54C0u, 0xFFFD58C0u, 0xFFF584C0u, 0xFFF588C0u}) {
        SCOPED_TRACE(header);
        const test::Mp3Decode d = test::decodeMp3Bytes(frames(header, 4));
        ASSERT_TRUE(d.ok) << d.error;
        EXPECT_EQ(d.pcm.size(), 4u * 1152u);
    }
    // Behind junk, a 48 kHz Layer II first header is not accepted.
    const test::Mp3Decode d = test::decodeMp3Bytes(Bytes(5, 0) + frames(0xFFFD54C0u, 4));
    EXPECT_FALSE(d.ok);
}

TEST(MP3Reader, SecondSearchAfterAReservedSamplingIndex) {
    // The first sync word has sampling index 3; the pair search finds the
    // real stream at an even offset.
    const test::Mp3Decode d = test::decodeMp3Bytes(Bytes{0xFF, 0xFB, 0x9C, 0xC0} + frames(kMono44, 2));
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.pcm.size(), 2u * 1152u);
    // Without such a pair there is no first header.
    EXPECT_FALSE(test::decodeMp3Bytes(Bytes{0xFF, 0xFB, 0x9C, 0xC0} + Bytes(900, 0)).ok);
}

TEST(MP3Reader, DamagedSideInformationNeverBreaksTheFrameCount) {
    // Side information of all ones: part2_3_length 4095, big_values 511,
    // main_data_begin 511 (before the stream start), every table select 31.
    // Then frames of seeded random bytes behind valid headers.
    // Joint stereo with intensity and mid/side (ext 3), MPEG-1 and MPEG-2.
    for (uint32_t header : {kMono44, kStereo44, kMono22, 0xFFFA9000u, 0xFFFB9070u, 0xFFF38070u}) {
        SCOPED_TRACE(header);
        Bytes s = frame(header, 0xFF);
        std::mt19937 rng(header);
        for (int i = 0; i < 40; ++i) {
            Bytes f = frame(header);
            for (size_t j = 4; j < f.size(); ++j) f[j] = uint8_t(rng());
            s = s + f;
        }
        const test::Mp3Decode d = test::decodeMp3Bytes(s);
        ASSERT_TRUE(d.ok) << d.error;
        mp3::FrameHeader h;
        h.decode(header);
        EXPECT_EQ(d.pcm.size(), size_t(41 * h.samples_per_frame() * h.channels()));
    }
}

TEST(MP3Reader, ReadsTheId3v1Record) {
    Bytes tag(128, 0);
    const std::string fields = "TAGSong title";
    std::copy(fields.begin(), fields.end(), tag.begin());
    tag[33] = 'A';
    tag[93] = '1';
    tag[127] = 17;
    const Bytes stream = frames(kMono44, 2) + tag;
    MP3File reader;
    reader.open("unused.mp3");
    ASSERT_TRUE(reader.prepareMemory(stream.data(), stream.size()));
    EXPECT_TRUE(reader.info().hasId3v1);
    EXPECT_STREQ(reader.info().title, "Song title");
    EXPECT_STREQ(reader.info().artist, "A");
    EXPECT_STREQ(reader.info().year, "1");
    EXPECT_EQ(reader.info().genre, "Rock");
    EXPECT_EQ(reader.sampleCount(), 2 * 1152);
    tag[127] = 148;
    const Bytes unknown = frames(kMono44, 1) + tag;
    MP3File second;
    second.open("unused.mp3");
    ASSERT_TRUE(second.prepareMemory(unknown.data(), unknown.size()));
    EXPECT_EQ(second.info().genre, "Unknown");
}

TEST(MP3Reader, ThousandStereoFramesMakeTheExactCount) {
    const test::Mp3Decode d = test::decodeMp3Bytes(frames(kStereo44, 1000));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.pcm.size(), 2304000u);
}

TEST(MP3Reader, LoadFunctionFillsAndCropsTheSignal) {
    test::TempDir dir;
    const std::string song = dir.path("song.mp3"), zeros = dir.path("zeros.mp3");
    test::writeBytes(song, frames(kStereo44, 100));  // 115200 frames: 2612.2 ms
    test::writeBytes(zeros, Bytes(4096, 0));
    {
        SignalObj signal;
        ASSERT_TRUE(loadMP3File(signal, song.c_str(), -1));
        EXPECT_EQ(signal.rate, 44100);
        EXPECT_EQ(signal.width, 2);
        EXPECT_EQ(signal.length, 115200);
    }
    {
        SignalObj signal;
        ASSERT_TRUE(loadMP3File(signal, song.c_str(), 1000.0));
        EXPECT_EQ(signal.length, 44100);
    }
    SignalObj untouched;
    EXPECT_FALSE(loadMP3File(untouched, zeros.c_str(), -1));
    EXPECT_EQ(untouched.data, nullptr);
    EXPECT_EQ(untouched.length, 0);
}

TEST(MP3Reader, FilePathSlidesThroughLongJunk) {
    // Two megabytes of zeros before the stream and a tag behind it, read
    // from a file: the slide crosses many read windows.
    test::TempDir dir;
    const std::string path = dir.path("junk.mp3");
    test::writeBytes(path, Bytes(2 << 20, 0) + frames(kMono44, 4) + Bytes(128, 'T'));
    const test::Mp3Decode d = test::decodeMp3File(path);
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.pcm.size(), 4u * 1152u);
}
