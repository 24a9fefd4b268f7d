#include "audio/OggFile.h"

#include <gtest/gtest.h>

#include <algorithm>

#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include "Encoders.h"
#include "ReaderProbe.h"
#include "Signals.h"
#include "TestFiles.h"

namespace {

// The library's own 16-bit decode; chained links keep their own channel counts.
std::vector<int16_t> libraryDecode(const std::string& path) {
    std::vector<int16_t> out;
    OggVorbis_File vf;
    if (ov_fopen(path.c_str(), &vf) < 0) return out;
    char block[4096];
    int section = 0;
    for (long n, failures = 0; failures < 64 && (n = ov_read(&vf, block, sizeof block, 0, 2, 1, &section)) != 0;) {
        failures = n < 0 ? failures + 1 : 0;
        for (long i = 0; i + 1 < n; i += 2)
            out.push_back(int16_t(uint8_t(block[i]) | (uint8_t(block[i + 1]) << 8)));
    }
    ov_clear(&vf);
    return out;
}

// The library's decode, value for value, as far as both go, nothing written
// after; returns how far that is.
size_t expectLibrarysDecode(const test::ReadResult& r, const std::string& path) {
    const auto decoded = libraryDecode(path);
    const size_t n = std::min(decoded.size(), size_t(std::max(r.count, 0)));
    size_t differing = 0;
    for (size_t i = 0; i < n; ++i) differing += r.values[i] != decoded[i];
    EXPECT_EQ(differing, 0u);
    EXPECT_TRUE(test::unwrittenFrom(r.values, n));
    return n;
}

}  // namespace

// The second half decodes from a seek; where the halves do not join, one
// decoder goes on alone. Damage, even many pages lost to flipped bits, is read
// past to the end.
TEST(OggFile, DeliversTheLibrarysDecodeInTwoHalvesDamagedOrNot) {
    test::TempDir dir;
    const int32_t rate = 48000;
    test::writeOggVorbis(dir.path("long.ogg"), test::interleave(test::music(rate, 10.0, 6), test::music(rate, 10.0, 7)),
                         2, rate);
    auto variants = test::damagedVariants(test::readBytes(dir.path("long.ogg")));
    auto flipped = variants[0].second;
    for (size_t i = flipped.size() * 3 / 10; i < flipped.size() * 7 / 10; i += 997) flipped[i] ^= 0x10;
    variants.emplace_back("flipped", flipped);
    for (const auto& [name, file] : variants) {
        SCOPED_TRACE(name);
        test::writeBytes(dir.path("x.ogg"), file);
        const auto [one, two] = test::readOnOneAndTwoCores<OggFile>(dir.path("x.ogg"));
        EXPECT_TRUE(test::sameDelivery(one, two));
        ASSERT_TRUE(one.opened && one.readOk);
        EXPECT_TRUE(one.stereo && one.rate == rate);
        const size_t n = expectLibrarysDecode(one, dir.path("x.ogg"));
        EXPECT_GT(n, size_t(one.count) * 4 / 10);  // past where any damage starts
        // Clean: long enough to split, and decoded to its last value.
        EXPECT_TRUE(name != "clean" || (one.count == 2 * 10 * rate && n == size_t(one.count)));
    }
}

// Full-scale noise decodes past full scale: the values clamp as the
// library's 16-bit read clamps them, for any channel count.
TEST(OggFile, LoudStreamsClampAsTheLibraryDoes) {
    test::TempDir dir;
    for (int channels : {1, 2, 3}) {
        SCOPED_TRACE(channels);
        std::vector<int16_t> samples;
        for (int c = 0; c < channels; ++c) {
            const auto one = test::noise(44100, 2.0, 32767, 40 + c);
            samples.resize(one.size() * channels);
            for (size_t i = 0; i < one.size(); ++i) samples[i * channels + c] = one[i];
        }
        test::writeOggVorbis(dir.path("loud.ogg"), samples, channels, 44100);
        const auto read = test::readThrough<OggFile>(dir.path("loud.ogg"));
        ASSERT_EQ(read.count, 88200 * channels);
        EXPECT_EQ(expectLibrarysDecode(read, dir.path("loud.ogg")), size_t(read.count));
        EXPECT_GT(std::count(read.values.begin(), read.values.end(), int16_t(-32768)), 100);
    }
}

// The count is the whole chain's frames times the first link's channels; noise
// keeps each link many pages long, as the library's chain search expects.
TEST(OggFile, ChainsAreCutOrLeftShortAtTheFirstLinksCount) {
    test::TempDir dir;
    test::writeOggVorbis(dir.path("m.ogg"), test::noise(44100, 1.0, 8000, 1), 1, 44100, 0.4f, 101);
    test::writeOggVorbis(dir.path("s.ogg"), test::noise(44100, 1.0, 8000, 2), 2, 44100, 0.4f, 202);
    auto mono = test::readBytes(dir.path("m.ogg")), stereo = test::readBytes(dir.path("s.ogg"));
    const auto monoFirst = mono;
    mono.insert(mono.end(), stereo.begin(), stereo.end());
    stereo.insert(stereo.end(), monoFirst.begin(), monoFirst.end());
    test::writeBytes(dir.path("more.ogg"), mono);
    test::writeBytes(dir.path("fewer.ogg"), stereo);

    const auto more = test::readThrough<OggFile>(dir.path("more.ogg"));
    ASSERT_EQ(more.count, 44100 + 22050);  // the surplus 22050 dropped
    EXPECT_TRUE(!more.stereo && more.rate == 44100);
    EXPECT_EQ(expectLibrarysDecode(more, dir.path("more.ogg")), 66150u);
    const auto fewer = test::readThrough<OggFile>(dir.path("fewer.ogg"));
    ASSERT_EQ(fewer.count, 2 * (22050 + 44100));
    EXPECT_EQ(expectLibrarysDecode(fewer, dir.path("fewer.ogg")), 88200u);  // the rest is never written
}

// Found by fuzzing: a chain whose last link is another codec's. The library
// refuses it, leaking the set-up of the link before (beyond any caller's reach).
TEST(OggFile, ChainEndingInAnotherCodecIsRefused) {
    test::TempDir dir;
    std::vector<uint8_t> chain;
    for (int serial : {11, 22}) {
        test::writeOggVorbis(dir.path("link.ogg"), test::sine(440.0, 44100, 0.3), 1, 44100, 0.4f, serial);
        const auto link = test::readBytes(dir.path("link.ogg"));
        chain.insert(chain.end(), link.begin(), link.end());
    }
    ogg_stream_state os;
    ogg_stream_init(&os, 33);
    unsigned char head[19] = {'O', 'p', 'u', 's', 'H', 'e', 'a', 'd', 1, 1, 0x38, 1, 0x80, 0xBB};
    ogg_packet first{head, sizeof head, 1, 0, 0, 0};
    ogg_stream_packetin(&os, &first);
    for (ogg_page page; ogg_stream_flush(&os, &page) != 0;) {
        chain.insert(chain.end(), page.header, page.header + page.header_len);
        chain.insert(chain.end(), page.body, page.body + page.body_len);
    }
    ogg_stream_clear(&os);
    test::writeBytes(dir.path("chain.ogg"), chain);
#if defined(__SANITIZE_ADDRESS__)
    __lsan::ScopedDisabler libraryLoss;
#endif
    EXPECT_FALSE(test::readThrough<OggFile>(dir.path("chain.ogg")).opened);
}
