// The worker's limits on hostile files, through the three commands: memory
// follows what a file holds, never what its header claims, and no file of up
// to 10 MB keeps a command busy for 10 s. The sanitizers reserve terabytes
// of address space up front, so the memory test skips in their builds.
#include <gtest/gtest.h>

#include <FLAC/stream_encoder.h>

#include <chrono>
#include <optional>
#include <random>

#include "Encoders.h"
#include "Signals.h"
#include "TestFiles.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int32_t kRate = 44100;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

struct Outcome {
    int status;
    Bytes record;
    double seconds;
};

// One command of the worker, optionally under an address-space limit in KiB.
Outcome run(const test::TempDir& dir, const std::string& command, const std::string& audio, long limitKiB = 0) {
    const std::string out = dir.path(command + ".out");
    std::remove(out.c_str());
    const auto start = std::chrono::steady_clock::now();
    const std::string prefix = limitKiB > 0 ? "ulimit -v " + std::to_string(limitKiB) + " && " : "";
    const int status = test::runProgram("sh", {"-c", prefix + "exec \"$0\" \"$@\"", test::builtProgram("vexcore"), command, audio, out},
                                        nullptr, nullptr, 60.0);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return {status, test::fileExists(out) ? test::readBytes(out) : Bytes{}, seconds};
}

}  // namespace

TEST(Bounds, MemoryFollowsTheFileNotTheHeader) {
    if (kSanitized) GTEST_SKIP() << "a sanitizer cannot run under an address-space limit; the Release build runs this test";
    constexpr long kLimitKiB = 1 << 20;  // 1 GiB: less than any of the headers below claims
    test::TempDir dir;
    const auto music = test::interleave(test::music(kRate, 8.0, 1), test::music(kRate, 8.0, 2));  // enough for a print
    struct Case {
        std::string name;
        std::optional<int64_t> decodedMs;  // unset: about the 8 s the file holds
        int64_t preparedMs;  // about
        int analyze, fp;
    };
    std::vector<Case> cases;

    // WAVE: a data chunk of 2 GB.
    test::writeWav(dir.path("w.wav"), music, kRate, 2);
    Bytes b = test::readBytes(dir.path("w.wav"));
    test::putLE(b, 40, 0x7FFFFFFE, 4);
    test::writeBytes(dir.path("w.wav"), b);
    // Validate prepares the first `length` values whatever the width: with the
    // announced length, both channels' 8 s.
    cases.push_back({"w.wav", int64_t(0x7FFFFFFE / 4 * 1000.0 / kRate), 16000, 0, 0});

    // FLAC: 2^30 - 1 frames (2^31 - 2 values, the largest count that does not
    // wrap), and 2^36 - 1, whose count wraps to nothing at all.
    test::writeFlac(dir.path("f.flac"), music, 2, kRate);
    test::writeBytes(dir.path("max.flac"), test::readBytes(dir.path("f.flac")));
    test::setFlacTotalSamples(dir.path("f.flac"), 0x3FFFFFFF);
    cases.push_back({"f.flac", int64_t(0x3FFFFFFF * 1000.0 / kRate), 16000, 0, 0});
    test::setFlacTotalSamples(dir.path("max.flac"), (uint64_t(1) << 36) - 1);
    cases.push_back({"max.flac", 0, 0, 1, 233});

    // Ogg Vorbis: the last granule position claims three days; its values
    // keep their low 32 bits, about 4 hours.
    test::writeOggVorbis(dir.path("o.ogg"), music, 2, kRate);
    b = test::readBytes(dir.path("o.ogg"));
    const size_t last = test::oggPages(b).back();
    const uint64_t days = uint64_t(3) * 86400 * kRate;
    test::putLE(b, last + 6, days, 8);
    test::resealOggPage(b, last);
    test::writeBytes(dir.path("o.ogg"), b);
    cases.push_back({"o.ogg", int64_t(int32_t(uint32_t(days * 2)) / 2 * 1000.0 / kRate), 16000, 0, 0});

    // MPEG audio: the encoder's first frame (its Xing/Info frame) counts
    // 2^32 - 1 frames; the reader sizes by what it decodes.
    if (test::haveTool("lame")) {
        test::writeWav(dir.path("m.wav"), music, kRate, 2);
        ASSERT_EQ(test::runProgram("lame", {"--quiet", dir.path("m.wav"), dir.path("m.mp3")}), 0);
        b = test::readBytes(dir.path("m.mp3"));
        const std::string head(b.begin(), b.begin() + long(std::min<size_t>(b.size(), 4096)));
        const size_t tag = std::min(head.find("Xing"), head.find("Info"));
        ASSERT_NE(tag, std::string::npos);
        ASSERT_TRUE(b[tag + 7] & 1) << "no frame count in the tag";
        test::putLE(b, tag + 8, 0xFFFFFFFF, 4);
        test::writeBytes(dir.path("m.mp3"), b);
        cases.push_back({"m.mp3", std::nullopt, 8000, 0, 0});
    }

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string audio = dir.path(c.name);
        const Outcome v = run(dir, "validate", audio, kLimitKiB);
        ASSERT_EQ(v.status, 0);
        ASSERT_EQ(v.record.size(), 17u);
        const int64_t decoded = test::be64(v.record, 1), prepared = test::be64(v.record, 9);
        if (c.decodedMs) EXPECT_EQ(decoded, *c.decodedMs);
        else EXPECT_NEAR(decoded, 8000, 150);
        EXPECT_NEAR(prepared, c.preparedMs, 150);
        for (const auto& [command, status, size] : {std::tuple{"analyze", c.analyze, 71u}, {"fp", c.fp, 565u}}) {
            const Outcome r = run(dir, command, audio, kLimitKiB);
            EXPECT_EQ(r.status, status) << command;
            EXPECT_EQ(r.record.size(), status == 0 ? size : 0u) << command;
        }
    }
}

// Files of up to 10 MB in the shapes that cost most per byte: a long run of
// junk before the first MPEG frame, Ogg pages that carry nothing, a FLAC
// stream of the smallest frames, a WAVE file of tiny chunks.
TEST(Bounds, NoFileOfTenMegabytesTakesTenSeconds) {
    test::TempDir dir;
    const size_t kBytes = 10u << 20;
    std::mt19937 gen(13);
    const auto shortMusic = test::interleave(test::music(kRate, 2.0, 5), test::music(kRate, 2.0, 6));
    std::vector<std::pair<std::string, std::optional<int64_t>>> cases;  // and about the decoded length, when known

    // MPEG audio: 2 s of frames after almost 10 MB of junk without a 0xFF byte.
    if (test::haveTool("lame")) {
        test::writeWav(dir.path("short.wav"), shortMusic, kRate, 2);
        ASSERT_EQ(test::runProgram("lame", {"--quiet", "-b", "128", dir.path("short.wav"), dir.path("short.mp3")}), 0);
        const Bytes frames = test::readBytes(dir.path("short.mp3"));
        Bytes f(kBytes - frames.size());
        for (uint8_t& x : f) x = uint8_t(gen() % 255);
        f.insert(f.end(), frames.begin(), frames.end());
        test::writeBytes(dir.path("junk.mp3"), f);
        cases.push_back({"junk.mp3", 2000});
    }

    // Ogg Vorbis: 2 s of audio pages with empty pages between them, each
    // page renumbered and sealed so that the library takes it.
    {
        test::writeOggVorbis(dir.path("short.ogg"), shortMusic, 2, kRate, 0.1f);
        const Bytes f = test::readBytes(dir.path("short.ogg"));
        const std::vector<size_t> pages = test::oggPages(f);
        ASSERT_GE(pages.size(), 4u);
        const size_t empties = (kBytes - f.size()) / 27 / (pages.size() - 3);
        Bytes out;
        uint32_t sequence = 0;
        for (size_t p = 0; p < pages.size(); ++p) {
            const size_t end = p + 1 < pages.size() ? pages[p + 1] : f.size();
            for (size_t k = 0; p >= 3 && k < empties; ++k) {
                const size_t at = out.size();
                out.insert(out.end(), f.begin() + long(pages[p]), f.begin() + long(pages[p]) + 27);
                out[at + 5] = f[pages[p] + 5] & 1;          // continues a packet as the next page does
                test::putLE(out, at + 6, ~uint64_t(0), 8);  // no granule position
                out[at + 26] = 0;                           // no segments
                test::putLE(out, at + 18, sequence++, 4);
                test::resealOggPage(out, at);
            }
            const size_t at = out.size();
            out.insert(out.end(), f.begin() + long(pages[p]), f.begin() + long(end));
            test::putLE(out, at + 18, sequence++, 4);
            test::resealOggPage(out, at);
        }
        ASSERT_LE(out.size(), kBytes);
        test::writeBytes(dir.path("pages.ogg"), out);
        cases.push_back({"pages.ogg", 2000});
    }

    // FLAC: frames of 16 samples of silence, about 15 bytes each.
    {
        const std::string path = dir.path("minimal.flac");
        FLAC__StreamEncoder* e = FLAC__stream_encoder_new();
        ASSERT_TRUE(FLAC__stream_encoder_set_channels(e, 1) && FLAC__stream_encoder_set_sample_rate(e, kRate) &&
                    FLAC__stream_encoder_set_compression_level(e, 0) && FLAC__stream_encoder_set_blocksize(e, 16));
        ASSERT_EQ(FLAC__stream_encoder_init_file(e, path.c_str(), nullptr, nullptr), FLAC__STREAM_ENCODER_INIT_STATUS_OK);
        const std::vector<FLAC__int32> zeros(16 * 4096, 0);
        const size_t samples = kBytes / 8 * 7;  // a little over a byte per sample
        for (size_t done = 0; done < samples; done += zeros.size())
            ASSERT_TRUE(FLAC__stream_encoder_process_interleaved(e, zeros.data(), unsigned(zeros.size())));
        ASSERT_TRUE(FLAC__stream_encoder_finish(e));
        FLAC__stream_encoder_delete(e);
        ASSERT_LE(test::readBytes(path).size(), kBytes);
        cases.push_back({"minimal.flac", std::nullopt});
    }

    // WAVE: millions of empty chunks between "fmt " and "data".
    {
        test::writeWav(dir.path("w.wav"), shortMusic, kRate, 2);
        const Bytes w = test::readBytes(dir.path("w.wav"));
        Bytes f(w.begin(), w.begin() + 36);
        const Bytes chunk = {'j', 'u', 'n', 'k', 0, 0, 0, 0};
        while (f.size() + chunk.size() < kBytes - (w.size() - 36)) f.insert(f.end(), chunk.begin(), chunk.end());
        f.insert(f.end(), w.begin() + 36, w.end());
        test::writeBytes(dir.path("chunks.wav"), f);
        cases.push_back({"chunks.wav", 0});
    }

    // The sanitizer build runs the same work a few times slower.
    const double limit = kSanitized ? 40.0 : 10.0;
    // The documented statuses of each command (never a signal).
    const std::pair<std::string, std::vector<int>> commands[] = {{"validate", {0}}, {"analyze", {0, 1}}, {"fp", {0, 10, 233}}};
    for (const auto& [name, decodedMs] : cases)
        for (const auto& [command, statuses] : commands) {
            SCOPED_TRACE(name + " " + command);
            const Outcome r = run(dir, command, dir.path(name));
            EXPECT_LT(r.seconds, limit);
            EXPECT_NE(std::find(statuses.begin(), statuses.end(), r.status), statuses.end()) << r.status;
            if (command != "validate") continue;
            ASSERT_EQ(r.record.size(), 17u);
            if (decodedMs) {
                EXPECT_NEAR(test::be64(r.record, 1), *decodedMs, 150);
            }
        }
}
