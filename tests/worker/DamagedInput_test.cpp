// End-to-end runs of the worker on damaged files of every format. Whatever the
// damage, each run must end normally, within a time limit, with one of the
// command's documented statuses, and a status 0 must come with a whole record.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <optional>
#include <set>

#include "Corrupt.h"
#include "Encoders.h"
#include "Signals.h"
#include "TestFiles.h"

namespace {

using test::Bytes;

constexpr int32_t kRate = 44100;
constexpr double kSeconds = 8.0;
constexpr int64_t kFixtureMs = 8000;
// Generous even for the sanitized build; a run this long is a hang.
constexpr double kLimitSeconds = 120.0;

struct Command {
    const char* word;
    std::set<int> exitStatuses;  // low 8 bits of the documented codes
    std::set<int> leaveNoFile;   // those that fail before the output is opened
    size_t recordSize;
};

// The output path is always writable here, so validate's 3 would be a fault.
const Command kValidate{"validate", {0, 2}, {}, 17};
const Command kPrint{"fp", {0, 10, 1001 & 0xFF, 1002 & 0xFF, 1003 & 0xFF},
                     {10, 1001 & 0xFF, 1003 & 0xFF}, 565};
const Command kAnalyze{"analyze", {0, 1, 2, 3}, {1, 3}, 71};
const Command* const kCommands[] = {&kValidate, &kPrint, &kAnalyze};

// 8 s of stereo with tones and clicks on the beat, so that the undamaged file
// yields an analysis and a print (which needs about 7.4 s).
std::vector<int16_t> music() {
    auto left = test::sine(220.0, kRate, kSeconds, 6000.0);
    auto right = test::sine(330.0, kRate, kSeconds, 6000.0);
    const auto hiss = test::noise(kRate, kSeconds, 3000.0, 7);
    const auto high = test::sine(1760.0, kRate, kSeconds, 2000.0);
    for (size_t i = 0; i < left.size(); ++i) {
        const bool onBeat = (i % (kRate / 2)) < size_t(kRate / 40);
        const int extra = (onBeat ? 4 * hiss[i] : hiss[i] / 8) + high[i];
        left[i] = static_cast<int16_t>(left[i] + extra);
        right[i] = static_cast<int16_t>(right[i] + extra);
    }
    return test::interleave(left, right);
}

struct Variant {
    std::string name;
    Bytes bytes;
    // When validate loads the file, the decoded duration it must report.
    std::optional<int64_t> decodedMs;
    // Only validate: for headers announcing gigabytes, whose other commands
    // crop to a limit and are covered once, on WAVE.
    bool validateOnly = false;
};

class DamagedInput : public ::testing::Test {
protected:
    static void SetUpTestSuite() { dir_ = new test::TempDir; }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }

    // The undamaged file of a format, made on first use; empty for MP3 when
    // lame is missing.
    static std::string fixture(const std::string& ext) {
        const std::string path = dir_->path("clean." + ext);
        if (test::fileExists(path)) return path;
        const auto samples = music();
        if (ext == "wav") test::writeWav(path, samples, kRate, 2);
        if (ext == "flac") test::writeFlac(path, samples, 2, kRate);
        if (ext == "ogg") test::writeOggVorbis(path, samples, 2, kRate);
        if (ext == "mp3") {
            if (!test::haveTool("lame")) return "";
            const std::string wav = fixture("wav");
            const std::string cmd = "lame --quiet -b 128 '" + wav + "' '" + path + "'";
            if (std::system(cmd.c_str()) != 0) {
                std::remove(path.c_str());
                return "";
            }
        }
        return path;
    }

    static Bytes clean(const std::string& ext) { return test::readBytes(fixture(ext)); }

    // Runs every command on every variant, written under the given extension.
    void runAll(const std::string& ext, const std::vector<Variant>& variants) {
        for (size_t i = 0; i < variants.size(); ++i) {
            const auto& v = variants[i];
            const std::string path = dir_->path("v" + std::to_string(i) + "-" + v.name + "." + ext);
            test::writeBytes(path, v.bytes);
            for (const Command* c : kCommands)
                if (c == &kValidate || !v.validateOnly) check(*c, path, v.name, v.decodedMs);
            std::remove(path.c_str());
        }
    }

    // One guarded run and the checks every outcome must pass.
    static int check(const Command& c, const std::string& audio, const std::string& what,
                     std::optional<int64_t> decodedMs = std::nullopt) {
        SCOPED_TRACE(std::string(c.word) + " on " + what + " (" + audio + ")");
        const std::string out = dir_->path("out");
        std::remove(out.c_str());
        const auto run = test::runGuarded(test::builtProgram("vexcore"), {c.word, audio, out},
                                          kLimitSeconds);
        EXPECT_FALSE(run.timedOut) << "killed after " << run.seconds << " s";
        EXPECT_EQ(run.signal, 0) << "ended by signal " << run.signal;
        EXPECT_EQ(run.err.find("Sanitizer"), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("runtime error"), std::string::npos) << run.err;
        EXPECT_TRUE(run.out.empty()) << "wrote to stdout: " << run.out;
        if (run.timedOut || run.signal != 0) return -1;
        EXPECT_EQ(c.exitStatuses.count(run.status), 1u) << "undocumented status " << run.status;
        const Bytes rec = test::readBytes(out);
        if (run.status == 0) {
            EXPECT_EQ(rec.size(), c.recordSize);
            if (!rec.empty()) {
                EXPECT_EQ(rec[0], 1) << "version byte";
            }
            if (decodedMs && rec.size() == 17) {
                EXPECT_EQ(test::be64(rec, 1), *decodedMs) << "decoded duration";
            }
        } else if (c.leaveNoFile.count(run.status)) {
            EXPECT_FALSE(test::fileExists(out)) << "status " << run.status << " left a file";
        }
        return run.status;
    }

    // Damage that applies to any format; `header` is a size inside the
    // format's header, `body` where the coded audio has surely begun.
    static std::vector<Variant> common(const Bytes& f, size_t header, size_t body, uint32_t seed) {
        return {
            {"empty", {}, std::nullopt},
            {"cut-10", test::truncated(f, 10), std::nullopt},
            {"cut-in-header", test::truncated(f, header), std::nullopt},
            {"cut-after-header", test::truncated(f, body), std::nullopt},
            {"cut-half", test::truncated(f, f.size() / 2), std::nullopt},
            {"cut-last-byte", test::truncated(f, f.size() - 1), std::nullopt},
            {"flip-1", test::flipBits(f, seed, 1), std::nullopt},
            {"flip-1-header", test::flipBits(f, seed + 1, 1, 0, header), std::nullopt},
            {"flip-40", test::flipBits(f, seed + 2, 40, body), std::nullopt},
            {"burst-64", test::flipBurst(f, seed + 3, 64, body), std::nullopt},
            {"burst-in-header",
             test::flipBurst(f, seed + 4, std::min<size_t>(16, header), 0, header), std::nullopt},
            {"zero-4k", test::zeroed(f, f.size() / 3, 4096), std::nullopt},
            {"zero-header", test::zeroed(f, 0, header), std::nullopt},
            {"random", test::randomBytes(f.size(), seed + 5), std::nullopt},
        };
    }

    // Damage behind an intact header leaves the declared length, which is
    // what a reader sizes by.
    static void keepsDeclaredLength(std::vector<Variant>& v) {
        for (auto& x : v)
            for (const char* name : {"cut-half", "cut-last-byte", "flip-40", "burst-64", "zero-4k"})
                if (x.name == name) x.decodedMs = kFixtureMs;
    }

    static test::TempDir* dir_;
};

test::TempDir* DamagedInput::dir_ = nullptr;

TEST_F(DamagedInput, GuardKillsARunawayProgram) {
    const auto run = test::runGuarded("/bin/sleep", {"30"}, 0.5);
    EXPECT_TRUE(run.timedOut);
    EXPECT_EQ(run.signal, SIGKILL);
    EXPECT_LT(run.seconds, 10.0);
    const auto quick = test::runGuarded("/bin/sh", {"-c", "echo x >&2; exit 3"}, 30.0);
    EXPECT_FALSE(quick.timedOut);
    EXPECT_EQ(quick.status, 3);
    EXPECT_EQ(quick.err, "x\n");
}

TEST_F(DamagedInput, DamageIsDeterministicAndWhereAsked) {
    const Bytes f = test::randomBytes(1000, 3);
    EXPECT_EQ(f, test::randomBytes(1000, 3));
    EXPECT_NE(f, test::randomBytes(1000, 4));
    const Bytes flipped = test::flipBits(f, 9, 1, 500);
    EXPECT_EQ(flipped, test::flipBits(f, 9, 1, 500));
    size_t bits = 0, first = f.size();
    for (size_t i = 0; i < f.size(); ++i) {
        bits += size_t(__builtin_popcount(f[i] ^ flipped[i]));
        if (f[i] != flipped[i]) first = std::min(first, i);
    }
    EXPECT_EQ(bits, 1u);
    EXPECT_GE(first, 500u);
    const Bytes burst = test::flipBurst(f, 9, 64, 100);
    size_t changed = 0;
    for (size_t i = 0; i < f.size(); ++i) changed += f[i] != burst[i];
    EXPECT_EQ(changed, 64u);
    EXPECT_EQ(test::zeroed(f, 990, 50).size(), f.size());
    EXPECT_EQ(test::truncated(f, 5000), f);

    // Resealing untouched Ogg pages must reproduce the encoder's checksums.
    const Bytes ogg = clean("ogg");
    Bytes resealed = ogg;
    int pages = 0;
    for (size_t at = 0; (at = test::findBytes(ogg, "OggS", at)) != std::string::npos; at += 4) {
        test::resealOggPage(resealed, at);
        ++pages;
    }
    EXPECT_GT(pages, 3);
    EXPECT_EQ(resealed, ogg);
}

// The undamaged fixtures must succeed everywhere; otherwise every damaged run
// below would pass for the wrong reason.
TEST_F(DamagedInput, CleanFixturesSucceed) {
    for (const std::string ext : {"wav", "flac", "ogg", "mp3"}) {
        const std::string path = fixture(ext);
        if (path.empty()) continue;
        // Ogg and MP3 lengths depend on the encoder's padding.
        const auto ms =
            ext == "wav" || ext == "flac" ? std::optional<int64_t>(kFixtureMs) : std::nullopt;
        for (const Command* c : kCommands) EXPECT_EQ(check(*c, path, "clean " + ext, ms), 0);
    }
}

TEST_F(DamagedInput, Wave) {
    const Bytes f = clean("wav");
    ASSERT_EQ(test::findBytes(f, "data"), 36u) << "canonical 44-byte header expected";
    auto v = common(f, 30, 44, 100);
    // The data size counts: a file cut short still loads at its declared length.
    keepsDeclaredLength(v);
    auto field = [&](const std::string& name, size_t at, uint32_t value, bool wide = true) {
        Bytes b = f;
        if (wide)
            test::putLE32(b, at, value);
        else
            test::putLE16(b, at, uint16_t(value));
        v.push_back({name, b, std::nullopt});
    };
    field("data-size-max", 40, 0x7FFFFFFF);
    v.back().decodedMs = int64_t(double(0x7FFFFFFF / 2 / 2) * 1000.0 / kRate);
    field("data-size-negative", 40, 0x80000000);
    field("data-size-minus-2", 40, 0xFFFFFFFE);
    field("data-size-odd", 40, 5);
    field("data-size-0", 40, 0);
    field("fmt-size-huge", 16, 0x7FFFFFF0);
    field("fmt-size-negative", 16, 0xFFFFFFF0);
    field("rate-0", 24, 0);
    field("rate-1", 24, 1);
    field("rate-max", 24, 0x7FFFFFFF);
    field("rate-negative", 24, 0xFFFFFFFF);
    field("channels-0", 22, 0, false);
    field("channels-3", 22, 3, false);
    field("bits-8", 34, 8, false);
    runAll("wav", v);
}

TEST_F(DamagedInput, Flac) {
    const Bytes f = clean("flac");
    ASSERT_LT(test::findBytes(f, "\xFF\xF8", 4), 8192u) << "audio frames start after 8 KiB";
    auto v = common(f, 30, 8192, 200);
    keepsDeclaredLength(v);
    auto total = [&](const std::string& name, uint64_t samples, std::optional<int64_t> ms) {
        const std::string p = dir_->path("total.flac");
        test::writeBytes(p, f);
        test::setFlacTotalSamples(p, samples);
        v.push_back({name, test::readBytes(p), ms});
    };
    // Values x channels keep only their low 32 bits; 0 stands for 600 s of
    // values, which is 300 s of stereo.
    total("total-max", (uint64_t(1) << 36) - 1, std::nullopt);
    total("total-2^31", uint64_t(1) << 31, 300000);
    total("total-unrecorded", 0, 300000);
    total("total-int32-max-frames", 0x3FFFFFFF, int64_t(0x3FFFFFFF * 1000.0 / kRate));
    v.back().validateOnly = true;
    total("total-1", 1, 0);
    runAll("flac", v);
}

TEST_F(DamagedInput, Ogg) {
    const Bytes f = clean("ogg");
    ASSERT_EQ(test::findBytes(f, "OggS"), 0u);
    // The third page starts the audio; everything before it is headers.
    const size_t second = test::findBytes(f, "OggS", 4);
    const size_t third = test::findBytes(f, "OggS", second + 4);
    ASSERT_NE(third, std::string::npos);
    auto v = common(f, second + 20, third + 200, 300);
    // The last page's granule position gives the length the reader sizes by.
    const size_t last = [&] {
        size_t at = third, next;
        while ((next = test::findBytes(f, "OggS", at + 4)) != std::string::npos) at = next;
        return at;
    }();
    auto granule = [&](const std::string& name, uint64_t frames) {
        Bytes b = f;
        test::putLE32(b, last + 6, uint32_t(frames));
        test::putLE32(b, last + 10, uint32_t(frames >> 32));
        test::resealOggPage(b, last);
        v.push_back({name, b, std::nullopt});
    };
    granule("granule-2g-values", 0x3FFFFFF0);  // 2^31 - 32 values: near the largest count
    v.back().decodedMs = int64_t(0x3FFFFFF0 * 1000.0 / kRate);
    v.back().validateOnly = true;
    granule("granule-wraps-negative", 0x7FFFFFF0);
    granule("granule-huge", 0x7FFFFFFFFFFFFFF0ull);
    granule("granule-16", 16);
    granule("granule-unset", ~0ull);
    runAll("ogg", v);
}

TEST_F(DamagedInput, Mp3) {
    if (fixture("mp3").empty()) GTEST_SKIP() << "lame is not installed: no MP3 fixture";
    const Bytes f = clean("mp3");
    ASSERT_TRUE(f.size() > 4 && f[0] == 0xFF && (f[1] & 0xE0) == 0xE0)
        << "lame's output starts with a frame";
    auto v = common(f, 3, 2000, 400);
    // An ID3v2 tag whose sync-safe size points far past the end.
    Bytes tagged = {'I', 'D', '3', 3, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F};
    tagged.insert(tagged.end(), f.begin(), f.end());
    v.push_back({"id3-past-end", tagged, std::nullopt});
    Bytes shortTag = {'I', 'D', '3', 3, 0, 0, 0, 0, 0x10, 0};
    shortTag.insert(shortTag.end(), f.begin(), f.end());
    v.push_back({"id3-2k-over-audio", shortTag, std::nullopt});
    Bytes ext = {'I', 'D', '3', 4, 0, 0x40, 0x7F, 0x7F, 0x7F, 0x7F};
    v.push_back({"id3-extended-only", ext, std::nullopt});
    // Reserved layer bits in the first frame and in one mid-stream.
    Bytes layer0 = f;
    layer0[1] &= 0xF9;
    v.push_back({"layer-reserved-first", layer0, std::nullopt});
    const size_t mid = [&] {
        for (size_t i = f.size() / 2; i + 1 < f.size(); ++i)
            if (f[i] == 0xFF && (f[i + 1] & 0xFE) == 0xFA) return i;
        return std::string::npos;
    }();
    ASSERT_NE(mid, std::string::npos);
    Bytes layerMid = f;
    layerMid[mid + 1] &= 0xF9;
    v.push_back({"layer-reserved-mid", layerMid, std::nullopt});
    Bytes mpeg25 = f;
    mpeg25[1] = 0xE3;
    v.push_back({"mpeg-2.5-start", mpeg25, std::nullopt});
    Bytes freeFormat = f;
    freeFormat[mid + 2] &= 0x0F;
    v.push_back({"free-format-mid", freeFormat, std::nullopt});
    Bytes badRate = f;
    badRate[2] |= 0x0C;
    v.push_back({"rate-index-3-first", badRate, std::nullopt});
    // Side information carries the Layer III lengths, table selections and
    // region counts; saturating or scrambling it in every frame pushes every
    // one of them to its limit.
    auto sideInfo = [&](const std::string& name, uint32_t seed) {
        Bytes b = f;
        test::DamageRng rng(seed);
        for (size_t i = 0; i + 40 < b.size(); ++i) {
            if (b[i] != 0xFF || (b[i + 1] & 0xFE) != 0xFA) continue;
            for (size_t k = 4; k < 36; ++k) b[i + k] = seed ? uint8_t(rng.next() >> 24) : 0xFF;
            i += 40;
        }
        v.push_back({name, b, std::nullopt});
    };
    sideInfo("side-info-ff", 0);
    sideInfo("side-info-random", 401);
    v.push_back({"flip-2000", test::flipBits(f, 402, 2000, 2000), std::nullopt});
    Bytes syncs(20000);
    for (size_t i = 0; i < syncs.size(); ++i) syncs[i] = i % 2 ? 0xFB : 0xFF;
    v.push_back({"sync-words-only", syncs, std::nullopt});
    runAll("mp3", v);
}

// Names with the right extension that are not usable files at all.
TEST_F(DamagedInput, NotAFile) {
    for (const std::string ext : {"wav", "flac", "ogg", "mp3"}) {
        const std::string folder = dir_->path("folder." + ext);
        ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
        for (const Command* c : kCommands) {
            check(*c, folder, "a directory named *." + ext);
            check(*c, dir_->path("missing." + ext), "a missing *." + ext);
        }
        rmdir(folder.c_str());
    }
}

}  // namespace
