#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "Signals.h"
#include "dsp/QuorbixError.h"
#include "dsp/SignalObj.h"

namespace {

void fill(SignalObj& s, const std::vector<int16_t>& x, int32_t rate, bool stereo) {
    s.CreateBuffer(static_cast<int32_t>(x.size()), rate, stereo);
    std::copy(x.begin(), x.end(), s.data);
}

std::vector<int16_t> samples(const SignalObj& s) { return std::vector<int16_t>(s.data, s.data + s.elementCount); }

int32_t codeOf(SignalObj& s, double threshold) {
    try {
        s.TrimSilence(threshold, threshold);
    } catch (const QuorbixError& e) {
        return e.code();
    }
    return 0;
}

}  // namespace

TEST(SignalObj, CreateBufferAndCrop) {
    SignalObj s;
    s.CreateBuffer(7, 1000, true);  // odd count: the last value is dropped
    EXPECT_EQ(s.length, 3);
    EXPECT_EQ(s.elementCount, 6);
    EXPECT_EQ(s.width, 2);
    EXPECT_TRUE(s.wasStereo);
    EXPECT_DOUBLE_EQ(s.durationMs, 3.0);
    EXPECT_EQ(s.data[5], 0);

    SignalObj m;
    std::vector<int16_t> ramp(1000);
    for (int i = 0; i < 1000; ++i) ramp[i] = static_cast<int16_t>(i);
    fill(m, ramp, 1000, false);
    m.Crop(100.0, 250.0);
    EXPECT_EQ(m.length, 250);
    EXPECT_EQ(m.data[0], 100);
    EXPECT_EQ(m.data[249], 349);
    EXPECT_DOUBLE_EQ(m.durationMs, 1000.0);  // the recorded duration is not updated
    EXPECT_THROW(m.Crop(0.0, 0.5), QuorbixError);
    EXPECT_EQ(m.length, 250);  // a failed crop leaves the signal as it was
}

TEST(SignalObj, ExcerptsViewTheParent) {
    SignalObj s;
    std::vector<int16_t> ramp(2000);
    for (int i = 0; i < 2000; ++i) ramp[i] = static_cast<int16_t>(i);
    fill(s, ramp, 1000, false);
    s.gain = 2.5;
    SignalObj* e = s.CreateExcerpt(500.0, 300.0);
    EXPECT_EQ(e->data, s.data + 500);
    EXPECT_EQ(e->length, 300);
    EXPECT_DOUBLE_EQ(e->gain, 2.5);
    SignalObj* tail = s.CreateExcerpt(1900.0, 500.0);  // shortened to the parent's end
    EXPECT_EQ(tail->length, 100);
    EXPECT_EQ(tail->data[99], 1999);
    for (int i = 0; i < 25; ++i) s.CreateExcerpt(0.0, 10.0);  // the list grows past its first slots
    EXPECT_EQ(s.excerptCount(), 27);
}

TEST(SignalObj, StereoMeasureAndDownMix) {
    const auto left = test::sine(300, 8000, 1.0, 10000.0);
    std::vector<int16_t> opposite(left.size());
    for (size_t i = 0; i < left.size(); ++i) opposite[i] = static_cast<int16_t>(-left[i]);

    SignalObj s;
    fill(s, test::interleave(left, opposite), 8000, true);
    s.MeasureStereo();
    EXPECT_NEAR(s.stereoCorrelation, -1.0, 1e-12);
    EXPECT_NEAR(s.stereoBalanceDb, 0.0, 1e-12);
    EXPECT_TRUE(s.stereoMeasured);
    s.PrepareStereo(8000, 2.2);  // mixed as (L - R) / 2: does not cancel
    EXPECT_EQ(s.width, 1);
    EXPECT_TRUE(s.wasStereo);
    EXPECT_GT(s.length, 7000);

    SignalObj t;
    fill(t, {3, -4, -3, 4, 7, 7, -32768, 32767}, 8000, true);
    t.MixToMono();
    EXPECT_EQ(samples(t), (std::vector<int16_t>{0, 0, 7, 0}));  // truncation toward zero
    EXPECT_EQ(t.stereoDifference, (7 + 7 + 0 + 65535) / 4);
    SignalObj d;
    fill(d, {3, -4, -3, 4}, 8000, true);
    d.MixDifferenceToMono();
    EXPECT_EQ(samples(d), (std::vector<int16_t>{3, -3}));

    SignalObj mono;
    fill(mono, {1, 2, 3}, 8000, false);
    mono.MixToMono();  // nothing to do
    EXPECT_EQ(samples(mono), (std::vector<int16_t>{1, 2, 3}));
    EXPECT_EQ(mono.stereoDifference, 0);
    EXPECT_FALSE(mono.wasStereo);
}

TEST(SignalObj, TrimSilenceBlocksAndErrors) {
    // 22050 Hz: blocks of 121 samples.
    std::vector<int16_t> x(22050, 0);
    for (int i = 0; i < 121; ++i) x[i] = 100;  // loud from sample 0: start clamps to 0, not -1
    for (int i = 10000; i < 10121; ++i) x[i] = 100;
    SignalObj s;
    fill(s, x, 22050, false);
    s.TrimSilence(2.2, 2.2);
    EXPECT_EQ(s.data[0], 100);
    EXPECT_DOUBLE_EQ(s.durationMs, 1000.0);
    // Backward blocks of 121 from the end: the 99th (samples 10071..10191)
    // holds the burst's tail; the scan stops there and reaches a block further.
    EXPECT_EQ(s.length, 10072 + 121);

    SignalObj silent;
    fill(silent, std::vector<int16_t>(44100, 0), 22050, false);
    EXPECT_EQ(codeOf(silent, 2.2), 1);
    SignalObj quiet;
    fill(quiet, std::vector<int16_t>(44100, 2), 22050, false);
    EXPECT_EQ(codeOf(quiet, 2.2), 1);  // mean 2 is not above 2.2
    SignalObj loud;
    fill(loud, std::vector<int16_t>(44100, 3), 22050, false);
    EXPECT_EQ(codeOf(loud, 2.2), 0);
}

TEST(SignalObj, LongDigitalSilenceCutsTheRest) {
    const int32_t rate = 1000;
    auto tone = [&](double seconds) { return test::sine(50, rate, seconds, 5000.0); };
    for (const auto& [gapSeconds, cut] : {std::pair{31, true}, std::pair{29, false}}) {
        SCOPED_TRACE(gapSeconds);
        auto x = tone(5.0);
        const size_t gapStart = x.size();
        x.resize(x.size() + gapSeconds * rate, 0);
        const auto after = tone(5.0);
        x.insert(x.end(), after.begin(), after.end());
        SignalObj s;
        fill(s, x, rate, false);
        s.TrimSilence(2.2, 2.2);
        EXPECT_EQ(s.longSilenceCut, cut);
        if (cut)
            EXPECT_LE(static_cast<size_t>(s.length), gapStart + 2);  // the run and all after it are gone
        else
            EXPECT_GT(static_cast<size_t>(s.length), x.size() - 20);
    }
}

TEST(SignalObj, RemoveDCOffset) {
    const int32_t rate = 1000;
    auto x = test::sine(37, rate, 10.0, 1000.0);
    for (auto& v : x) v = static_cast<int16_t>(v + 100);
    SignalObj s;
    fill(s, x, rate, false);
    s.RemoveDCOffset();
    EXPECT_NEAR(s.dcOffset, 100.0, 3.0);
    const long expected = std::lround(x[0] - s.dcOffset);  // integers minus the same offset, rounded
    EXPECT_EQ(s.data[0], expected);

    // Removing the offset would clip the bottom: that side is scaled onto the limit.
    std::vector<int16_t> low(10000, 20000);
    low[5000] = -32768;
    SignalObj c;
    fill(c, low, rate, false);
    c.RemoveDCOffset();
    EXPECT_GT(c.dcOffset, 15.0);
    EXPECT_EQ(c.data[5000], -32768);

    // Under three seconds there is no estimate and nothing changes.
    SignalObj shortSong;
    fill(shortSong, std::vector<int16_t>(3000, 500), rate, false);
    shortSong.RemoveDCOffset();
    EXPECT_TRUE(std::isnan(shortSong.dcOffset));
    EXPECT_EQ(shortSong.data[10], 500);
}

TEST(SignalObj, NormalizeRoundsAndScalesStereoDifference) {
    SignalObj s;
    fill(s, {100, -50, 1, 0}, 1000, false);
    s.stereoDifference = 10;
    s.Normalize();
    EXPECT_DOUBLE_EQ(s.gain, 327.67);
    EXPECT_EQ(samples(s), (std::vector<int16_t>{32767, -16384, 328, 0}));  // -16383.5 rounds away from zero
    EXPECT_EQ(s.stereoDifference, 3276);

    for (int16_t peak : {int16_t(32767), int16_t(-32768)}) {
        SignalObj full;
        fill(full, {peak, 5}, 1000, false);
        full.Normalize();
        EXPECT_DOUBLE_EQ(full.gain, 1.0);
        EXPECT_EQ(full.data[1], 5);
    }
    SignalObj zero;
    fill(zero, {0, 0}, 1000, false);
    zero.Normalize();
    EXPECT_DOUBLE_EQ(zero.gain, 1.0);
    EXPECT_EQ(zero.data[0], 0);
}

TEST(SignalObj, PrepareMonoResamplesToTarget) {
    SignalObj s;
    fill(s, test::sine(1000, 44100, 4.0, 8000.0), 44100, false);
    s.PrepareMono(22050, 2.2);
    EXPECT_EQ(s.rate, 22050);
    EXPECT_NEAR(s.length, 88200, 2 * 121);
    int32_t peak = 0;
    for (int i = 0; i < s.length; ++i) peak = std::max(peak, std::abs(static_cast<int32_t>(s.data[i])));
    EXPECT_EQ(peak, 32767);
    EXPECT_DOUBLE_EQ(s.GetDurationMs(), 1000.0 * s.length / 22050);
}

TEST(SignalObj, PrepareMonoOnTwoChannelsKeepsWidthAndRate) {
    // The validation prepares whatever the channel count: only the first
    // `length` values are used and a two-channel signal is not resampled.
    SignalObj s;
    fill(s, test::interleave(test::sine(500, 44100, 2.0), test::sine(500, 44100, 2.0)), 44100, true);
    s.PrepareMono(22050, 2.2);
    EXPECT_EQ(s.rate, 44100);
    EXPECT_EQ(s.elementCount, s.length);
    EXPECT_LE(s.length, 88200);
}

TEST(SignalObj, SamplePositionsAndScaledCounts) {
    SignalObj s;
    fill(s, {0, 1, 5, -9, 2, 0}, 1000, false);
    EXPECT_DOUBLE_EQ(s.FirstSampleAbove(4), 2.0);
    EXPECT_DOUBLE_EQ(s.LastSampleAbove(4), 3.0);
    EXPECT_DOUBLE_EQ(s.FirstSampleAbove(100), 6.0);
    EXPECT_DOUBLE_EQ(s.LastSampleAbove(100), -1.0);
    SignalObj fast;
    fast.CreateBuffer(10, 44100, false);
    EXPECT_EQ(fast.ScaleSampleCount(512, 22050), 1024);
    SignalObj slow;
    slow.CreateBuffer(10, 22050, false);
    EXPECT_EQ(slow.ScaleSampleCount(512, 22050), 512);
    EXPECT_EQ(slow.ScaleSampleCount(8192, 44100), 4096);
}
