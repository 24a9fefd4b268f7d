#include "print/Fingerprint.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>

#include "analysis/SongObj.h"
#include "io/DataOutput.h"
#include "io/PrintRecord.h"
#include "support/Signals.h"
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

Print printOf(const std::vector<int16_t>& samples, int32_t channels = 1) {
    auto song = test::songOf(samples, kRate, channels);
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

std::vector<int16_t> tone(double hz, double seconds, double amplitude, double octaveBelow = 0) {
    auto x = test::sine(hz, kRate, seconds, amplitude);
    const auto low = test::sine(hz / 2, kRate, seconds, octaveBelow);
    for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<int16_t>(x[i] + low[i]);
    return x;
}

}  // namespace

TEST(Fingerprint, OrthonormalVectorsSameForStereoTwinsAndInTheRecord) {
    const auto x = test::music(kRate, 12.0, 3);
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
    EXPECT_TRUE(printOf(test::interleave(x, x), 2) == p);

    // The command's record: byte for byte the print computed here.
    test::TempDir dir;
    test::writeWav(dir.path("song.wav"), x, kRate, 1);
    ASSERT_EQ(test::runVexcore({"fp", dir.path("song.wav"), dir.path("a.fp")}), 0);
    PrintRecord record;
    record.fill(p.matrix.data(), p.counts.data());
    BufferDataOutput expected;
    record.write(expected);
    EXPECT_EQ(test::readBytes(dir.path("a.fp")), expected.bytes);

    // Silent: 1001 leaves the process as 233 (too short is DamagedInput's).
    test::writeWav(dir.path("silent.wav"), std::vector<int16_t>(kRate * 10, 0), kRate, 1);
    EXPECT_EQ(test::runVexcore({"fp", dir.path("silent.wav"), dir.path("s.fp")}), 233);
    EXPECT_FALSE(test::fileExists(dir.path("s.fp")));
}

TEST(Fingerprint, FortyFramesAtLeastAndTenToHundredThirtySecondsAtMost) {
    // 40 frames of 8192 samples is the least that gives a print.
    EXPECT_EQ(printOf(tone(440, 40 * 8192.0 / kRate, 30000)).status, 0);
    const Print tooShort = printOf(tone(440, (40 * 8192.0 - 1) / kRate, 30000));
    EXPECT_EQ(tooShort.status, 10);
    EXPECT_TRUE(tooShort.matrix.empty() && tooShort.counts.empty());

    const auto x = test::music(kRate, 131.0, 3);
    const Print whole = printOf(x);
    ASSERT_EQ(whole.status, 0);
    const auto from = x.begin() + 10 * kRate;
    EXPECT_TRUE(printOf(std::vector<int16_t>(from, from + 120 * kRate)) == whole);
    EXPECT_FALSE(printOf(std::vector<int16_t>(x.begin(), x.begin() + 120 * kRate)) == whole);
    // Exactly 130 s is used whole, so it differs from its own 10-130 s stretch.
    EXPECT_FALSE(printOf(std::vector<int16_t>(x.begin(), x.begin() + 130 * kRate)) == whole);
}

TEST(Fingerprint, DominantNotes) {
    const std::pair<std::vector<int16_t>, std::vector<int32_t>> cases[] = {
        {tone(440, 10, 32767), {48, 0, 0, 0}},
        {tone(440, 10, 20000, 10000), {48, 36, 0, 0}},  // 220 Hz softer
        {tone(440, 10, 10000, 20000), {36, 48, 0, 0}},  // 220 Hz louder
        {tone(2000, 10, 12000), {0, 0, 0, 0}},          // above the range
        // Below the range; quieter, so that no window sidelobe passes the 0.005 floor.
        {tone(40, 10, 12000), {0, 0, 0, 0}},
        {tone(440, 10, 0), {0, 0, 0, 0}},
    };
    for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(notesOf(cases[i].first), cases[i].second) << i;
    // Through the whole print: the counts come from the same stretch.
    EXPECT_EQ(printOf(tone(440, 12, 32767)).counts, (std::vector<int32_t>{48, 0, 0, 0}));
}
