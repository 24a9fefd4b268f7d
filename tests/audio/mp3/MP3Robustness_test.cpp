#include <gtest/gtest.h>

#include <random>

#include "audio/mp3/FrameHeader.h"
#include "audio/mp3/MP3File.h"
#include "dsp/SignalObj.h"
#include "support/MP3Fixtures.h"
#include "support/TestFiles.h"

namespace {

using Bytes = std::vector<uint8_t>;

// MPEG-1 Layer III 128 kbit/s 44.1 kHz (417-byte frames); MPEG-2 64 kbit/s 22.05 kHz (208).
constexpr uint32_t kMono44 = 0xFFFB90C0;
constexpr uint32_t kStereo44 = 0xFFFB9000;
constexpr uint32_t kMono22 = 0xFFF380C0;

// A frame of the header's size (else 417 bytes) filled with `fill`; zeros decode to silence.
Bytes frame(uint32_t header, uint8_t fill = 0) {
    mp3::FrameHeader h;
    h.decode(header);
    Bytes f(size_t(h.frameSize() > 0 ? h.frameSize() : 417), fill);
    for (int i = 0; i < 4; ++i) f[size_t(i)] = uint8_t(header >> (24 - 8 * i));
    return f;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes frames(uint32_t header, int n) {
    Bytes out;
    for (int i = 0; i < n; ++i) out = out + frame(header);
    return out;
}

Bytes prefix(const Bytes& b, size_t n) { return Bytes(b.begin(), b.begin() + std::ptrdiff_t(n)); }

Bytes id3v2(uint32_t size) {
    Bytes t = {'I', 'D', '3', 3, 0, 0, uint8_t((size >> 21) & 0x7F), uint8_t((size >> 14) & 0x7F),
               uint8_t((size >> 7) & 0x7F), uint8_t(size & 0x7F)};
    t.resize(10 + size, 0);
    return t;
}

size_t decodedSize(const Bytes& stream) {
    const test::Mp3Decode d = test::decodeMp3Bytes(stream);
    EXPECT_TRUE(d.ok) << d.error;
    return d.pcm.size();
}

}  // namespace

// 1000 stereo frames: over a million samples. Damage: all-ones side
// information (main data before the stream start), then seeded random bytes
// (scale factor 63, oversized group codes, reads past the frame end).
TEST(MP3Reader, CountsSamplesOfEveryFrameDamagedOrNot) {
    struct Case { uint32_t header; int frames, rate, channels, perFrame; };
    for (const Case& c : {Case{kMono44, 7, 44100, 1, 1152}, Case{kStereo44, 1000, 44100, 2, 1152},
                          Case{kMono22, 9, 22050, 1, 576}, Case{0xFFFFE0C0, 5, 44100, 1, 384},
                          // Layer II at 48, 32, 24 and 16 kHz: any rate at the expected position.
                          Case{0xFFFD54C0, 4, 48000, 1, 1152}, Case{0xFFFD58C0, 4, 32000, 1, 1152},
                          Case{0xFFF584C0, 4, 24000, 1, 1152}, Case{0xFFF588C0, 4, 16000, 1, 1152},
                          Case{0xFFFA9000, 2, 44100, 2, 1152}, Case{0xFFFB9070, 2, 44100, 2, 1152},
                          Case{0xFFF38070, 2, 22050, 2, 576}, Case{0xFFFF10C0, 2, 44100, 1, 384},
                          Case{0xFFFFE000, 2, 44100, 2, 384}, Case{0xFFFF6050, 2, 44100, 2, 384},
                          Case{0xFFFD1080, 2, 44100, 2, 1152}, Case{0xFFFDE070, 2, 44100, 2, 1152},
                          Case{0xFFFD60C0, 2, 44100, 1, 1152}}) {
        SCOPED_TRACE(c.header);
        const test::Mp3Decode d = test::decodeMp3Bytes(frames(c.header, c.frames));
        ASSERT_TRUE(d.ok) << d.error;
        EXPECT_EQ(d.rate, c.rate);
        EXPECT_EQ(d.channels, c.channels);
        EXPECT_EQ(d.pcm.size(), size_t(c.frames * c.perFrame * c.channels));
        Bytes damaged = frame(c.header, 0xFF), f = frame(c.header);
        std::mt19937 rng(c.header);
        for (int i = 0; i < 40; ++i) {
            for (size_t j = 4; j < f.size(); ++j) f[j] = uint8_t(rng());
            damaged = damaged + f;
        }
        EXPECT_EQ(decodedSize(damaged), size_t(41 * c.perFrame * c.channels));
    }
}

TEST(MP3Reader, SkipsAnId3v2TagBeforeTheFirstHeader) {
    // A 48 kHz header inside the tag would be taken if the skip went wrong.
    Bytes tag = id3v2(300);
    const Bytes fake = frame(0xFFFB94C0);
    std::copy(fake.begin(), fake.begin() + 200, tag.begin() + 20);
    for (uint8_t flags : {uint8_t(0), uint8_t(0x40)}) {  // with and without an extended header
        tag[5] = flags;
        const test::Mp3Decode d = test::decodeMp3Bytes(tag + frames(kMono44, 3));
        EXPECT_EQ(d.rate, 44100);
        EXPECT_EQ(d.pcm.size(), 3u * 1152u);
    }
    // Version 4 and above are not skipped: the search slides through the
    // tag instead and meets the 48 kHz Layer III header first.
    tag[3] = 4;
    EXPECT_EQ(test::decodeMp3Bytes(tag + frames(kMono44, 3)).rate, 48000);
}

// Made here and, when present, the conformance set's: the preparation fails,
// without an exception or with the reader's documented text.
TEST(MP3Reader, StreamsWithoutAFrameFailAsDocumented) {
    Bytes pastEnd = id3v2(0);
    pastEnd[6] = 0x7F;  // a tag size far beyond the file
    struct Case { std::string what; Bytes bytes; std::string error; };
    std::vector<Case> cases = {
        {"4096 zero bytes", Bytes(4096, 0), ""},
        {"empty", Bytes(), ""},
        {"tag only", id3v2(300), ""},
        {"tag size past the end", pastEnd + frames(kMono44, 2), ""},
        {"free format", frame(0xFFFB00C0) + frame(0xFFFB00C0), ""},
        {"header of a truncated frame", prefix(frame(kMono44), 100), ""},
        {"text", Bytes{'h', 'e', 'l', 'l', 'o'}, ""},
        {"reserved sampling index, no header pair after it", Bytes{0xFF, 0xFB, 0x9C, 0xC0} + Bytes(900, 0), ""},
        {"48 kHz Layer II first header behind junk", Bytes(5, 0) + frames(0xFFFD54C0u, 4), ""},
        {"MPEG 2.5", Bytes{0xFF, 0xE3, 0x90, 0xC0} + Bytes(400, 0), "Format not supported: MPEG 2.5"},
        {"reserved layer", frame(0xFFF990C0), "unknown layer identifier found!\n"},
    };
    const std::string dir = std::string(VEX_CONFORMANCE_DIR) + "/mpeg-audio/";
    for (const char* name : {"l3-nonstandard-id3v2-only", "l3-nonstandard-small", "l3-nonstandard-sideinfo-size",
                             "l2-nonstandard-free_format"})
        if (test::fileExists(dir + name + ".bit")) cases.push_back({name, test::readBytes(dir + name + ".bit"), ""});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const test::Mp3Decode d = test::decodeMp3Bytes(c.bytes);
        EXPECT_FALSE(d.ok);
        EXPECT_EQ(d.error, c.error);
    }
}

TEST(MP3Reader, FindsFramesPastJunkAndStopsAtTheFirstUnusableOne) {
    const Bytes three = frames(kMono44, 3);
    // Truncation, free format and a forbidden bitrate end the decoding.
    for (const Bytes& tail : {prefix(frame(kMono44), 200), frame(0xFFFB00C0) + frames(kMono44, 2),
                              frame(0xFFFBF0C0) + frames(kMono44, 2)})
        EXPECT_EQ(decodedSize(three + tail), 3u * 1152u);

    // A 48 kHz Layer II header in junk matches neither the stream's sampling
    // frequency nor the rule for candidates found after sliding.
    Bytes junk(333);
    std::mt19937 rng(7);
    for (uint8_t& b : junk) b = uint8_t(rng() % 0xF0);  // never a sync byte
    const Bytes layer2 = {0xFF, 0xFD, 0x84, 0xC0};
    EXPECT_EQ(decodedSize(frames(kMono44, 2) + junk + layer2 + junk + three + Bytes(128, 'T')), 5u * 1152u);

    // After a sync word with sampling index 3 the pair search finds the real
    // stream; MPEG 2.5 is refused at the first candidate position only.
    EXPECT_EQ(decodedSize(Bytes{0xFF, 0xFB, 0x9C, 0xC0} + frames(kMono44, 2)), 2u * 1152u);
    EXPECT_EQ(decodedSize(Bytes{0, 0xFF, 0xE3, 0x90, 0xC0} + frames(kMono44, 2)), 2u * 1152u);
}

// 2 MB of zeros take the header search across many read windows. A limited
// load only walks the headers past what it keeps, yet ends as a whole decode:
// the same duration after a truncated frame, the same error at a reserved layer.
TEST(MP3Reader, FileLoadsLimitedOrNotEndAsAWholeDecodeDoes) {
    test::TempDir dir;
    const double limitMs = 60.0;  // about two of the forty 26 ms frames
    const std::string truncated = dir.path("truncated.mp3"), reserved = dir.path("reserved.mp3");
    test::writeBytes(truncated, Bytes(2 << 20, 0) + frames(kStereo44, 40) + prefix(frame(kStereo44), 200));
    test::writeBytes(reserved, frames(kMono44, 40) + frame(0xFFF990C0) + frames(kMono44, 2));

    SignalObj whole, limited;
    ASSERT_TRUE(loadMP3File(whole, truncated.c_str(), -1));
    ASSERT_TRUE(loadMP3File(limited, truncated.c_str(), limitMs));
    EXPECT_EQ(whole.rate, 44100);
    EXPECT_EQ(whole.width, 2);
    EXPECT_EQ(whole.length, 40 * 1152);
    EXPECT_EQ(limited.length, int32_t(44100 * limitMs / 1000.0));
    EXPECT_EQ(limited.durationMs, whole.durationMs);

    for (double limit : {-1.0, limitMs}) {
        SignalObj s;
        try {
            loadMP3File(s, reserved.c_str(), limit);
            ADD_FAILURE() << "no error with limit " << limit;
        } catch (const char* text) {
            EXPECT_STREQ(text, "unknown layer identifier found!\n") << "limit " << limit;
        }
    }
}
