// Damaged WAVE, FLAC and Ogg files through the commands' load path, in process:
// loading and preparing must end normally (false or the system's own error),
// never crash, hang or touch memory it does not own (the sanitizer build checks).
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>

#include "Encoders.h"
#include "Signals.h"
#include "TestFiles.h"
#include "analysis/SongObj.h"
#include "audio/FileFormat.h"
#include "dsp/QuorbixError.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int32_t kRate = 44100;
constexpr int64_t kFixtureMs = 8000;

Bytes cut(const Bytes& f, size_t n) { return Bytes(f.begin(), f.begin() + std::min(n, f.size())); }

Bytes flipped(Bytes b, uint32_t seed, int count, size_t from, size_t to = SIZE_MAX) {
    std::mt19937 gen(seed);
    to = std::min(to, b.size());
    for (int i = 0; i < count; ++i) b[from + gen() % (to - from)] ^= uint8_t(1u << (gen() % 8));
    return b;
}

Bytes zeroed(Bytes b, size_t at, size_t n) {
    std::fill(b.begin() + std::min(at, b.size()), b.begin() + std::min(at + n, b.size()), 0);
    return b;
}

// With `value` little-endian at `at`; an Ogg page there is resealed so its checksum holds.
Bytes withLE(Bytes b, size_t at, uint64_t value, int bytes, size_t oggPage = SIZE_MAX) {
    test::putLE(b, at, value, bytes);
    if (oggPage != SIZE_MAX) test::resealOggPage(b, oggPage);
    return b;
}

struct Variant {
    std::string name;
    Bytes bytes;
    std::optional<int64_t> decodedMs = std::nullopt;  // when set, it loads and validate reports this
    bool mustPrepare = false;
    bool wholeOnly = false;  // headers announcing gigabytes: the limited loads crop them anyway
};

// Damage any format can take; `header` is a size inside the format's header,
// `body` where the coded audio has surely begun. `keepsLength`: the reader
// sizes by the header, so damage behind it keeps the declared length.
std::vector<Variant> common(const Bytes& f, size_t header, size_t body, uint32_t seed, bool keepsLength) {
    const auto kept = keepsLength ? std::optional<int64_t>(kFixtureMs) : std::nullopt;
    return {{"clean", f, kept, true}, {"empty", {}}, {"cut-10", cut(f, 10)}, {"cut-in-header", cut(f, header)},
            {"cut-after-header", cut(f, body)}, {"cut-half", cut(f, f.size() / 2), kept},
            {"cut-last-byte", cut(f, f.size() - 1), kept}, {"flip-1-in-header", flipped(f, seed, 1, 0, header)},
            {"flip-40", flipped(f, seed + 1, 40, body), kept}, {"zero-4k", zeroed(f, f.size() / 3, 4096), kept},
            {"zero-header", zeroed(f, 0, header)},
            {"random", flipped(Bytes(f.size(), 0), seed, int(f.size()) * 4, 0)}};
}

// 8 s of stereo music, enough for a print and an analysis.
Bytes clean(const test::TempDir& dir, const std::string& ext) {
    const std::string path = dir.path("clean." + ext);
    const auto music = test::interleave(test::music(kRate, 8.0, 1), test::music(kRate, 8.0, 2));
    if (ext == "wav") test::writeWav(path, music, kRate, 2);
    if (ext == "flac") test::writeFlac(path, music, 2, kRate);
    if (ext == "ogg") test::writeOggVorbis(path, music, 2, kRate);
    return test::readBytes(path);
}

// Loads and prepares each variant as validate does (the whole file, mono
// preparation at 22050 Hz) and as the print does (at most 135 s, stereo
// preparation at 44100 Hz).
void loadAll(const test::TempDir& dir, const std::string& ext, const std::vector<Variant>& variants) {
    registerAllFormats();
    const std::string path = dir.path("damaged." + ext);
    const auto* format = findFormat(path.c_str(), path.size());
    for (const Variant& v : variants) {
        SCOPED_TRACE(v.name + "." + ext);
        test::writeBytes(path, v.bytes);
        for (const double maxMs : {-1.0, 135000.0}) {
            if (v.wholeOnly && maxMs > 0) continue;
            SongObj song;
            bool loaded = false, prepared = false;
            try {
                loaded = format->load(song, path.c_str(), maxMs);
                if (loaded && maxMs < 0 && v.decodedMs) {
                    EXPECT_EQ(int64_t(song.durationMs), *v.decodedMs);
                }
                if (loaded) maxMs < 0 ? song.PrepareMono(22050, 2.2) : song.Prepare(44100, 50.0);
                prepared = loaded;
            } catch (const QuorbixError&) {
            }
            EXPECT_TRUE(loaded || !v.decodedMs) << "did not load";
            EXPECT_TRUE(prepared || !v.mustPrepare) << "did not prepare";
        }
    }
}

TEST(DamagedInput, Wave) {
    test::TempDir dir;
    const Bytes f = clean(dir, "wav");
    ASSERT_EQ(std::string(f.begin() + 36, f.begin() + 40), "data") << "canonical 44-byte header expected";
    auto v = common(f, 30, 44, 100, true);
    const std::tuple<const char*, size_t, uint32_t, int> fields[] = {
        {"data-size-negative", 40, 0x80000000, 4}, {"data-size-minus-2", 40, 0xFFFFFFFE, 4},
        {"data-size-odd", 40, 5, 4},               {"data-size-0", 40, 0, 4},
        {"fmt-size-huge", 16, 0x7FFFFFF0, 4},      {"fmt-size-negative", 16, 0xFFFFFFF0, 4},
        {"rate-0", 24, 0, 4},                      {"rate-1", 24, 1, 4},
        {"rate-max", 24, 0x7FFFFFFF, 4},           {"rate-negative", 24, 0xFFFFFFFF, 4},
        {"channels-0", 22, 0, 2},                  {"channels-3", 22, 3, 2},
        {"bits-8", 34, 8, 2}};
    for (const auto& [name, at, value, bytes] : fields) v.push_back({name, withLE(f, at, value, bytes)});
    v.push_back({"data-size-max", withLE(f, 40, 0x7FFFFFFF, 4), int64_t(0x7FFFFFFF / 4 * 1000.0 / kRate)});
    loadAll(dir, "wav", v);
}

TEST(DamagedInput, Flac) {
    test::TempDir dir;
    const Bytes f = clean(dir, "flac");
    const Bytes sync = {0xFF, 0xF8};
    ASSERT_LT(std::search(f.begin(), f.end(), sync.begin(), sync.end()) - f.begin(), 8192)
        << "audio frames start after 8 KiB";
    auto v = common(f, 30, 8192, 200, true);
    // Values x channels keep only their low 32 bits; 0 stands for 600 s of
    // values, which is 300 s of stereo.
    const std::tuple<const char*, uint64_t, std::optional<int64_t>> totals[] = {
        {"total-max", (uint64_t(1) << 36) - 1, std::nullopt}, {"total-2^31", uint64_t(1) << 31, 300000},
        {"total-unrecorded", 0, 300000}, {"total-1", 1, 0},
        {"total-int32-max-frames", 0x3FFFFFFF, int64_t(0x3FFFFFFF * 1000.0 / kRate)}};
    for (const auto& [name, frames, ms] : totals) {
        test::writeBytes(dir.path("total.flac"), f);
        test::setFlacTotalSamples(dir.path("total.flac"), frames);
        v.push_back({name, test::readBytes(dir.path("total.flac")), ms, false, frames == 0x3FFFFFFF});
    }
    loadAll(dir, "flac", v);
}

TEST(DamagedInput, Ogg) {
    test::TempDir dir;
    const Bytes f = clean(dir, "ogg");
    // The third page starts the audio; everything before it is headers.
    const std::vector<size_t> pages = test::oggPages(f);
    ASSERT_GT(pages.size(), 3u);
    auto v = common(f, pages[1] + 20, pages[2] + 200, 300, false);
    // The last page's granule position gives the length the reader sizes by.
    const size_t last = pages.back();
    const std::tuple<const char*, uint64_t, std::optional<int64_t>> granules[] = {
        {"granule-wraps-negative", 0x7FFFFFF0, std::nullopt}, {"granule-huge", 0x7FFFFFFFFFFFFFF0ull, std::nullopt},
        {"granule-unset", ~0ull, std::nullopt}, {"granule-16", 16, 0},  // 0 also shows the reseal was taken
        {"granule-2g-values", 0x3FFFFFF0, int64_t(0x3FFFFFF0 * 1000.0 / kRate)}};  // near the largest count
    for (const auto& [name, frames, ms] : granules)
        v.push_back({name, withLE(f, last + 6, frames, 8, last), ms, false, frames == 0x3FFFFFF0});
    loadAll(dir, "ogg", v);
}

}  // namespace
