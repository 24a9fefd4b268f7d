#include "print/Fingerprint.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "audio/FileFormat.h"
#include "dsp/QuorbixError.h"
#include "support/Signals.h"
#include "support/SpectraFixtures.h"
#include "support/TestFiles.h"

namespace {

constexpr int32_t kRate = 44100;

struct Print {
    int status = -1;
    std::vector<double> matrix;
    std::vector<int32_t> counts;
    bool operator==(const Print& o) const {
        return status == o.status && matrix == o.matrix && counts == o.counts;
    }
};

Print printOf(const std::vector<int16_t>& samples, int32_t channels = 1, int32_t rate = kRate) {
    auto song = test::songOf(samples, rate, channels);
    double* m = nullptr;
    int32_t* c = nullptr;
    Print p;
    p.status = computePrint(*song, m, c);
    if (m != nullptr) p.matrix.assign(m, m + 280);
    if (c != nullptr) p.counts.assign(c, c + 4);
    delete[] m;
    delete[] c;
    return p;
}

std::vector<int32_t> notesOf(const std::vector<int16_t>& samples) {
    auto song = test::songOf(samples, kRate);
    int32_t* c = nullptr;
    computeDominantNotes(*song, c);
    std::vector<int32_t> v(c, c + 4);
    delete[] c;
    return v;
}

// Busy, time-varying audio that preparation leaves as it is: loud from the
// first block to the last, no DC, and a full-scale sample every second.
std::vector<int16_t> varied(double seconds, uint32_t seed = 3) {
    const int64_t n = static_cast<int64_t>(seconds * kRate);
    std::vector<int16_t> x(static_cast<size_t>(n));
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int32_t> noise(-3000, 3000);
    const double pi = 3.14159265358979323846;
    for (int64_t i = 0; i < n; ++i) {
        const int64_t second = i / kRate;
        const double hz = 200 + 37 * (second % 23);
        const double t = double(i % kRate) / kRate;
        const double v = 12000 * std::sin(2 * pi * hz * t) + 6000 * std::sin(2 * pi * 3 * hz * t) + noise(rng);
        x[static_cast<size_t>(i)] = static_cast<int16_t>(std::lround(v));
        if (i % kRate == kRate / 2) x[static_cast<size_t>(i)] = 32767;
    }
    return x;
}

std::vector<int16_t> mix(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
    std::vector<int16_t> x(a.size());
    for (size_t i = 0; i < a.size(); ++i) x[i] = static_cast<int16_t>(a[i] + b[i]);
    return x;
}

void registerFormatsOnce() {
    static const bool done = [] {
        registerAllFormats();
        return true;
    }();
    (void)done;
}

}  // namespace

TEST(Fingerprint, ShortSongIsStatusTenWithoutArrays) {
    double* m = nullptr;
    int32_t* c = nullptr;
    auto song = test::songOf(test::tone(440, kRate, 6 * kRate, 30000), kRate);
    EXPECT_EQ(computePrint(*song, m, c), 10);
    EXPECT_EQ(m, nullptr);
    EXPECT_EQ(c, nullptr);
    // 40 frames of 8192 samples is the least that gives a print.
    EXPECT_EQ(printOf(test::tone(440, kRate, 40 * 8192, 30000)).status, 0);
    EXPECT_EQ(printOf(test::tone(440, kRate, 40 * 8192 - 1, 30000)).status, 10);
}

TEST(Fingerprint, VectorsAreOrthonormalAndRepeatable) {
    const auto x = varied(20.0);
    const Print p = printOf(x);
    ASSERT_EQ(p.status, 0);
    for (int r = 0; r < 7; ++r) {
        for (int q = r; q < 7; ++q) {
            double dot = 0.0;
            for (int j = 0; j < 40; ++j) dot += p.matrix[40 * r + j] * p.matrix[40 * q + j];
            EXPECT_NEAR(dot, r == q ? 1.0 : 0.0, 1e-5) << r << "," << q;
        }
    }
    // The first vector of non-negative band values has one sign throughout.
    const auto [lo, hi] = std::minmax_element(p.matrix.begin(), p.matrix.begin() + 40);
    EXPECT_TRUE(*lo >= 0.0 || *hi <= 0.0);
    EXPECT_TRUE(printOf(x) == p);
    EXPECT_FALSE(printOf(varied(20.0, 4)) == p);
}

TEST(Fingerprint, IdenticalStereoChannelsPrintAsMono) {
    const auto x = varied(12.0);
    const Print mono = printOf(x);
    ASSERT_EQ(mono.status, 0);
    EXPECT_TRUE(printOf(test::interleave(x, x), 2) == mono);
}

TEST(Fingerprint, LongSongUsesTenToHundredThirtySeconds) {
    const auto x = varied(131.0);
    const Print whole = printOf(x);
    ASSERT_EQ(whole.status, 0);
    const auto from = x.begin() + 10 * kRate;
    EXPECT_TRUE(printOf(std::vector<int16_t>(from, from + 120 * kRate)) == whole);
    EXPECT_FALSE(printOf(std::vector<int16_t>(x.begin(), x.begin() + 120 * kRate)) == whole);
    // Exactly 130 s is used whole, so it differs from its own 10-130 s stretch.
    const std::vector<int16_t> exact(x.begin(), x.begin() + 130 * kRate);
    const auto from2 = exact.begin() + 10 * kRate;
    EXPECT_FALSE(printOf(exact) == printOf(std::vector<int16_t>(from2, from2 + 120 * kRate)));
}

TEST(Fingerprint, DominantNotes) {
    const int64_t n = 10 * kRate;
    struct Case {
        const char* name;
        std::vector<int16_t> x;
        std::vector<int32_t> expected;
    };
    const Case cases[] = {
        {"440 Hz", test::tone(440, kRate, n, 32767), {48, 0, 0, 0}},
        {"440 loud, 220 soft", mix(test::tone(440, kRate, n, 20000), test::tone(220, kRate, n, 10000)), {48, 36, 0, 0}},
        {"440 soft, 220 loud", mix(test::tone(440, kRate, n, 10000), test::tone(220, kRate, n, 20000)), {36, 48, 0, 0}},
        {"2000 Hz, above the range", test::tone(2000, kRate, n, 12000), {0, 0, 0, 0}},
        // Quieter, so that no window sidelobe of the tone passes the 0.005 floor.
        {"40 Hz, below the range", test::tone(40, kRate, n, 12000), {0, 0, 0, 0}},
        {"silence", std::vector<int16_t>(n, 0), {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(notesOf(c.x), c.expected);
    }
    // Through the whole print: the counts come from the same stretch.
    const Print p = printOf(test::tone(440, kRate, 12 * kRate, 32767));
    ASSERT_EQ(p.status, 0);
    EXPECT_EQ(p.counts, (std::vector<int32_t>{48, 0, 0, 0}));
}

TEST(Fingerprint, SilenceAndUndecodableFiles) {
    auto silent = test::songOf(std::vector<int16_t>(10 * kRate, 0), kRate);
    double* m = nullptr;
    int32_t* c = nullptr;
    try {
        computePrint(*silent, m, c);
        ADD_FAILURE() << "no exception";
    } catch (const QuorbixError& e) {
        EXPECT_EQ(e.message(), "Signal has silence only");
        EXPECT_EQ(e.code(), 1);
    }
    EXPECT_EQ(m, nullptr);

    registerFormatsOnce();
    test::TempDir dir;
    EXPECT_EQ(generatePrint(dir.path("song.xyz").c_str(), m, c), 1001);
    EXPECT_EQ(generatePrint(dir.path("missing.wav").c_str(), m, c), 1001);
    test::writeBytes(dir.path("junk.wav"), std::vector<uint8_t>(300, 0x5a));
    EXPECT_EQ(generatePrint(dir.path("junk.wav").c_str(), m, c), 1001);
    EXPECT_EQ(m, nullptr);
    EXPECT_EQ(c, nullptr);
}

TEST(Fingerprint, CommandWritesTheRecordAndStatuses) {
    test::TempDir dir;
    const auto x = varied(12.0);
    test::writeWav(dir.path("song.wav"), x, kRate, 1);
    const std::string vexcore = test::builtProgram("vexcore");
    ASSERT_EQ(test::runProgram(vexcore, {"fp", dir.path("song.wav"), dir.path("a.fp")}), 0);
    ASSERT_EQ(test::runProgram(vexcore, {"fp", dir.path("song.wav"), dir.path("b.fp")}), 0);
    const auto a = test::readBytes(dir.path("a.fp"));
    EXPECT_EQ(a, test::readBytes(dir.path("b.fp")));  // byte-identical runs

    // The record the command should have written, built here from the print.
    const Print p = printOf(x);
    ASSERT_EQ(p.status, 0);
    std::vector<uint8_t> expected{1};
    for (double v : p.matrix) {
        const auto s = static_cast<uint16_t>(static_cast<int16_t>(v * 32767.0));
        expected.push_back(uint8_t(s >> 8));
        expected.push_back(uint8_t(s & 0xff));
    }
    std::vector<uint8_t> counts;
    for (int32_t n : p.counts) counts.push_back(uint8_t(n));
    std::sort(counts.rbegin(), counts.rend());
    expected.insert(expected.end(), counts.begin(), counts.end());
    ASSERT_EQ(expected.size(), 565u);
    EXPECT_EQ(a, expected);

    test::writeWav(dir.path("short.wav"), test::tone(440, kRate, 6 * kRate, 20000), kRate, 1);
    EXPECT_EQ(test::runProgram(vexcore, {"fp", dir.path("short.wav"), dir.path("s.fp")}), 10);
    EXPECT_FALSE(test::fileExists(dir.path("s.fp")));
    EXPECT_EQ(test::runProgram(vexcore, {"fp", dir.path("song.xyz"), dir.path("x.fp")}), 1001 & 0xff);
    test::writeWav(dir.path("silent.wav"), std::vector<int16_t>(kRate * 10, 0), kRate, 1);
    EXPECT_EQ(test::runProgram(vexcore, {"fp", dir.path("silent.wav"), dir.path("z.fp")}), 1001 & 0xff);
    EXPECT_FALSE(test::fileExists(dir.path("z.fp")));
}
