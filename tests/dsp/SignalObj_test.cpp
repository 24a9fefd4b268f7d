#include "dsp/SignalObj.h"

#include <gtest/gtest.h>

#include <numeric>
#include <tuple>

#include "Signals.h"
#include "TestFiles.h"
#include "dsp/QuorbixError.h"

namespace {

using Samples = std::vector<int16_t>;

Samples samples(const SignalObj& s) { return Samples(s.data, s.data + s.elementCount); }

Samples ramp(int from, int to) {
    Samples x(to - from);
    std::iota(x.begin(), x.end(), from);
    return x;
}

int32_t trimCode(const Samples& x) {
    try {
        test::signalOf(x, 22050)->TrimSilence(2.2, 2.2);
    } catch (const QuorbixError& e) {
        return e.code();
    }
    return 0;
}

}  // namespace

TEST(SignalObj, CreateBufferCropAndExcerpts) {
    SignalObj s;
    s.CreateBuffer(7, 1000, true);  // odd count: the last value is no frame but has room
    EXPECT_EQ(s.length, 3);
    EXPECT_EQ(s.elementCount, 6);
    EXPECT_DOUBLE_EQ(s.durationMs, 3.0);
    EXPECT_EQ(s.data[6], 0);

    auto m = test::signalOf(ramp(0, 1000), 1000);
    m->Crop(100.0, 250.0);
    EXPECT_EQ(samples(*m), ramp(100, 350));
    EXPECT_DOUBLE_EQ(m->durationMs, 1000.0);  // the recorded duration is not updated
    EXPECT_THROW(m->Crop(0.0, 0.5), QuorbixError);
    EXPECT_EQ(m->length, 250);  // a failed crop leaves the signal as it was

    auto p = test::signalOf(ramp(0, 2000), 1000);
    p->gain = 2.5;
    SignalObj* e = p->CreateExcerpt(500.0, 300.0);
    EXPECT_EQ(e->data, p->data + 500);
    EXPECT_EQ(e->length, 300);
    EXPECT_DOUBLE_EQ(e->gain, 2.5);
    SignalObj* tail = p->CreateExcerpt(1900.0, 500.0);  // shortened to the parent's end
    EXPECT_EQ(samples(*tail), ramp(1900, 2000));
    tail->Crop(10.0, 50.0);  // works on a copy: the parent keeps its samples
    EXPECT_EQ(samples(*tail), ramp(1910, 1960));
    EXPECT_EQ(samples(*p), ramp(0, 2000));
}

// Past 2^53 a double no longer holds every partial sum: the sums are still
// the running double sums the measure has always taken.
TEST(SignalObj, StereoMeasureAndDownMix) {
    const auto left = test::sine(300, 8000, 1.0, 10000.0);
    Samples opposite(left.size());
    std::transform(left.begin(), left.end(), opposite.begin(), [](int16_t v) { return int16_t(-v); });
    auto s = test::signalOf(test::interleave(left, opposite), 8000, 2);
    s->MeasureStereo();
    EXPECT_NEAR(s->stereoCorrelation, -1.0, 1e-12);
    EXPECT_NEAR(s->stereoBalanceDb, 0.0, 1e-12);
    s->PrepareStereo(8000, 2.2);  // mixed as (L - R) / 2: does not cancel
    EXPECT_EQ(s->width, 1);
    EXPECT_GT(s->length, 7000);

    auto t = test::signalOf({3, -4, -3, 4, 7, 7, -32768, 32767}, 8000, 2);
    t->MixToMono();
    EXPECT_EQ(samples(*t), (Samples{0, 0, 7, 0}));  // truncation toward zero
    EXPECT_EQ(t->stereoDifference, (7 + 7 + 0 + 65535) / 4);
    auto d = test::signalOf({3, -4, -3, 4}, 8000, 2);
    d->MixDifferenceToMono();
    EXPECT_EQ(samples(*d), (Samples{3, -3}));

    const int32_t frames = 9000000;
    Samples in(2 * size_t(frames));
    double sLR = 0, sLL = 0, sRR = 0;
    for (int32_t i = 0; i < frames; ++i) {
        const int32_t l = 32767 - i % 7, r = -32768 + i % 5;
        in[2 * size_t(i)] = int16_t(l), in[2 * size_t(i) + 1] = int16_t(r);
        sLR += l * r, sLL += l * l, sRR += r * r;
    }
    ASSERT_GT(sLL, 9007199254740992.0);

    // Below 2^53 and long enough to be summed in two halves: the exact sums.
    Samples medium(2 * 1000000);
    int64_t xLR = 0, xLL = 0, xRR = 0;
    for (int32_t i = 0; i < 1000000; ++i) {
        const int32_t l = (i * 37) % 20001 - 10000, r = (i * 91) % 30001 - 15000;
        medium[2 * size_t(i)] = int16_t(l), medium[2 * size_t(i) + 1] = int16_t(r);
        xLR += l * r, xLL += l * l, xRR += r * r;
    }
    auto halves = test::signalOf(medium, 44100, 2);
    halves->MeasureStereo();
    EXPECT_EQ(halves->stereoCorrelation, double(xLR) / std::sqrt(double(xLL) * double(xRR)));

    auto big = test::signalOf(in, 44100, 2);
    big->MeasureStereo();
    EXPECT_EQ(big->stereoCorrelation, sLR / std::sqrt(sLL * sRR));
    EXPECT_EQ(big->stereoBalanceDb, 10.0 * std::log10((sLL / frames) / (sRR / frames)));
}

TEST(SignalObj, TrimSilenceByBlocksAndCutsLongSilence) {
    // 22050 Hz: blocks of 121 samples.
    Samples x(22050, 0);
    std::fill(x.begin(), x.begin() + 121, 100);  // loud from sample 0: start clamps to 0, not -1
    std::fill(x.begin() + 10000, x.begin() + 10121, 100);
    auto s = test::signalOf(x, 22050);
    s->TrimSilence(2.2, 2.2);
    EXPECT_EQ(s->data[0], 100);
    EXPECT_DOUBLE_EQ(s->durationMs, 1000.0);
    // The 99th block from the end (samples 10071..10191) holds the burst's
    // tail; the scan stops there and keeps one block more.
    EXPECT_EQ(s->length, 10072 + 121);
    EXPECT_EQ(trimCode(Samples(44100, 0)), 1);
    EXPECT_EQ(trimCode(Samples(44100, 2)), 1);  // mean 2 is not above 2.2
    EXPECT_EQ(trimCode(Samples(44100, 3)), 0);

    // More than 30 s of digital silence cuts it and everything after it.
    for (const int gapSeconds : {31, 29}) {
        const auto tone = test::sine(50, 1000, 5.0, 5000.0);
        auto y = tone;
        y.resize(y.size() + gapSeconds * 1000, 0);
        y.insert(y.end(), tone.begin(), tone.end());
        auto g = test::signalOf(y, 1000);
        g->TrimSilence(2.2, 2.2);
        EXPECT_EQ(g->longSilenceCut, gapSeconds > 30);
        EXPECT_EQ(g->length <= 5002, gapSeconds > 30) << g->length;
    }
}

// A quicker estimate must agree with the single running average that decides
// near the threshold; none under three seconds; a clipping side is scaled.
TEST(SignalObj, RemoveDCOffset) {
    for (const double offset : {0.0, -9.0, 14.95, 14.999, 15.004, -15.02, 40.0}) {
        for (const int32_t n : {44100 * 3 + 1, 44100 * 7 + 3}) {
            Samples x = test::noise(44100, n / 44100.0 + 1.0, 3000.0, 7);
            x.resize(size_t(n));
            for (size_t i = 0; i < x.size(); ++i)  // a fractional offset, spread evenly
                x[i] = int16_t(x[i] + std::floor(offset * double(i + 1)) - std::floor(offset * double(i)));
            double m = 0.0, sum = 0.0;
            for (int32_t i = 1; i <= n; ++i) {
                m += (x[size_t(i - 1)] - m) * (1000.0 / (44100 * 1000.0));
                if (i > 3 * 44100) sum += m;
            }
            const double serial = sum / double(n - 3 * 44100);
            auto s = test::signalOf(x, 44100);
            s->RemoveDCOffset();
            SCOPED_TRACE(std::to_string(offset) + " over " + std::to_string(n));
            EXPECT_NEAR(s->dcOffset, serial, 1e-6);
            if (std::fabs(serial) > 15.0) {  // removed, each sample rounded
                EXPECT_EQ(s->dcOffset, serial);
                for (auto& v : x) v = int16_t(std::lround(v - s->dcOffset));
            }
            EXPECT_EQ(samples(*s), x);
        }
    }
    auto shortSong = test::signalOf(Samples(3000, 500), 1000);
    shortSong->RemoveDCOffset();
    EXPECT_TRUE(std::isnan(shortSong->dcOffset));
    EXPECT_EQ(samples(*shortSong), Samples(3000, 500));

    Samples low(10000, 20000);
    low[5000] = -32768;
    auto c = test::signalOf(low, 1000);
    c->RemoveDCOffset();
    EXPECT_GT(c->dcOffset, 15.0);
    EXPECT_EQ(c->data[5000], -32768);
}

TEST(SignalObj, NormalizeRoundsAndScalesStereoDifference) {
    auto s = test::signalOf({100, -50, 1, 0}, 1000);
    s->stereoDifference = 10;
    s->Normalize();
    EXPECT_DOUBLE_EQ(s->gain, 327.67);
    EXPECT_EQ(samples(*s), (Samples{32767, -16384, 328, 0}));  // -16383.5 rounds away from zero
    EXPECT_EQ(s->stereoDifference, 3276);
    // Long enough to be scaled in two halves.
    Samples ramp(1 << 20), scaled(1 << 20);
    for (size_t i = 0; i < ramp.size(); ++i) {
        ramp[i] = int16_t(int(i % 4001) - 2000);
        scaled[i] = int16_t(std::round(ramp[i] * (32767.0 / 2000)));
    }
    auto longer = test::signalOf(ramp, 44100);
    longer->Normalize();
    EXPECT_EQ(samples(*longer), scaled);
    for (const Samples& untouched : {Samples{32767, 5}, Samples{-32768, 5}, Samples{0, 0}}) {
        auto full = test::signalOf(untouched, 1000);
        full->Normalize();
        EXPECT_DOUBLE_EQ(full->gain, 1.0);
        EXPECT_EQ(samples(*full), untouched);
    }
}

// With a DC offset the rate change or the peak runs beside the estimate on
// the samples as the quick estimate corrects them; the stereo sums and the
// gain go in halves. At -900 the full-scale peaks are kept and both channels
// alike, so the removal scales the samples first.
TEST(SignalObj, PrepareIsTheSameOnOneThreadOrTwo) {
    for (int32_t target : {22050, 44100})
        for (int offset : {0, 900, -900}) {
            Samples in = test::music(44100, 20.0, 3);
            for (int16_t& v : in) v = v == 32767 ? v : int16_t(std::clamp(v / 2 + offset, -32768, 32767));
            Samples other = offset < 0 ? in : test::music(44100, 20.0, 4);
            std::vector<std::tuple<Samples, double, double, double>> runs;
            for (bool oneCore : {true, false}) {
                test::ScopedThreads threads(oneCore);
                auto s = test::signalOf(test::interleave(in, other), 44100, 2);
                s->Prepare(target, 2.2);
                EXPECT_EQ(s->rate, target);
                EXPECT_NEAR(s->length, 20 * target, 2 * 121);
                const auto [lo, hi] = std::minmax_element(s->data, s->data + s->length);
                EXPECT_EQ(std::max(-int32_t(*lo), int32_t(*hi)), 32767);  // normalised
                runs.emplace_back(samples(*s), s->dcOffset, s->gain, s->stereoCorrelation);
            }
            EXPECT_TRUE(runs[0] == runs[1]) << "offset " << offset << " target " << target;
            EXPECT_EQ(std::fabs(std::get<1>(runs[0])) > 15.0, offset != 0);
        }
}

// Validation counts the duration instead of computing the samples: a silent
// lead-in, down and up, the target rate, two channels (neither mixed nor
// resampled: only the first `length` values are used), past the split length.
TEST(SignalObj, PreparedDurationIsCountedAsPrepareMonoLeavesIt) {
    Samples quietStart(4410, 0);
    const Samples tune = test::music(44100, 3.0, 5);
    quietStart.insert(quietStart.end(), tune.begin(), tune.end());
    const struct {
        Samples samples;
        int32_t rate, channels;
    } cases[] = {
        {quietStart, 44100, 1},
        {test::music(48000, 1.5, 2), 48000, 1},
        {test::music(22050, 1.0, 2), 22050, 1},
        {test::music(8000, 2.3, 4), 8000, 1},
        {test::interleave(tune, tune), 44100, 2},
        {test::music(44100, 13.0, 6), 44100, 1},
    };
    for (const auto& c : cases) {
        auto prepared = test::signalOf(c.samples, c.rate, c.channels);
        auto counted = test::signalOf(c.samples, c.rate, c.channels);
        prepared->PrepareMono(22050, 2.2);
        EXPECT_EQ(counted->PreparedMonoDurationMs(22050, 2.2), prepared->GetDurationMs()) << c.rate;
        EXPECT_EQ(prepared->rate, c.channels == 2 ? c.rate : 22050);
        EXPECT_EQ(prepared->elementCount, prepared->length);
        EXPECT_TRUE(c.channels == 1 || prepared->length <= int32_t(c.samples.size()) / 2);
    }
    EXPECT_THROW(test::signalOf(test::music(10, 100.0), 10)->PrepareMono(22050, 2.2), QuorbixError);
    EXPECT_THROW(test::signalOf(test::music(10, 100.0), 10)->PreparedMonoDurationMs(22050, 2.2), QuorbixError);
}
