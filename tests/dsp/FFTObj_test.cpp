#include "dsp/FFTObj.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>

#include "dsp/QuorbixError.h"
#include "dsp/StopFlags.h"
#include "support/SpectraFixtures.h"

namespace {

const double kPi = 3.14159265358979323846;

// An FFTObj of frame size n over `song`, computed at `overlap`.
std::unique_ptr<FFTObj> spectrumOf(SignalObj& song, int32_t n, int32_t window, double overlap) {
    auto f = std::make_unique<FFTObj>();
    f->SetSignal(&song);
    f->SetFrameSize(n);
    f->SetWindow(window);
    f->Compute(overlap);
    return f;
}

int32_t argmax(const float* row, int32_t n) { return int32_t(std::max_element(row, row + n) - row); }

std::string quorbixMessage(const std::function<void()>& f) {
    try {
        f();
    } catch (const QuorbixError& e) {
        return e.message();
    }
    return "(nothing thrown)";
}

}  // namespace

TEST(FFTLib, MatchesDirectDftInHalfComplexOrder) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int32_t n : {8, 64, 512, 2048}) {
        SCOPED_TRACE(n);
        std::vector<double> x(n), out(n);
        for (double& v : x) v = u(rng);
        const std::vector<double> input = x;
        FFTLib fft;
        fft.InitFFT(n);
        fft.ForwardFFT(x.data(), out.data());
        EXPECT_EQ(x, input);
        double worst = 0.0;
        for (int32_t k = 0; k <= n / 2; ++k) {
            double re = 0.0, im = 0.0;
            for (int32_t j = 0; j < n; ++j) {
                const double a = 2.0 * kPi * static_cast<double>((int64_t(j) * k) % n) / n;
                re += x[j] * std::cos(a);
                im -= x[j] * std::sin(a);
            }
            worst = std::max(worst, std::fabs(out[k] - re));
            if (k > 0 && k < n / 2) worst = std::max(worst, std::fabs(out[n - k] - im));
        }
        EXPECT_LT(worst, 1e-12 * n);
    }
}

TEST(FFTObj, FrameCountsHopsAndSpacing) {
    FFTObj fresh;
    EXPECT_EQ(fresh.FrameSize(), 1024);
    EXPECT_EQ(fresh.BinCount(), 513);
    for (int32_t length : {8192, 8191}) {
        SCOPED_TRACE(length);
        auto song = test::songOf(test::tone(440, 44100, length, 1000), 44100);
        auto f = spectrumOf(*song, 8192, 0, 0.0);
        EXPECT_EQ(f->FrameCount(), length == 8192 ? 1 : 0);
        EXPECT_EQ(f->BinCount(), 4097);
        EXPECT_DOUBLE_EQ(f->BinSpacing(), 44100.0 / 8194.0);
    }
    auto song = test::songOf(test::tone(440, 44100, 100000, 1000), 44100);
    auto f = spectrumOf(*song, 8192, 0, 0.8);
    EXPECT_EQ(f->Hop(), 1638);
    EXPECT_NEAR(f->HopDuration(), 37.142857142857, 1e-9);
    EXPECT_EQ(f->FrameCount(), (100000 - 8192) / 1638 + 1);
    double t = -1.0;
    EXPECT_EQ(f->FrameAtTime(3 * 37.142857142857, &t), f->Frame(3));
    EXPECT_NEAR(t, 3 * 37.142857142857, 1e-9);
    EXPECT_EQ(f->FrameAtTime(1e6, &t), nullptr);
    EXPECT_EQ(f->ValueAtTime(2.5 * f->HopDuration(), 20), f->Frame(2)[20]);
    EXPECT_EQ(f->ValueAtTime(1e6, 20), 0.0);
    const float* rows = f->Frame(0);
    f->Compute(0.8);  // same overlap: the frames stay
    EXPECT_EQ(f->Frame(0), rows);
    f->Compute(0.0);
    EXPECT_EQ(f->FrameCount(), (100000 - 8192) / 8192 + 1);
    f->SetSignal(song.get());  // discards the frames
    EXPECT_EQ(f->FrameCount(), 0);
}

TEST(FFTObj, SineMagnitudes) {
    auto song = test::songOf(test::tone(1000, 44100, 8192, 32767), 44100);
    auto f = spectrumOf(*song, 8192, FrameData::kHammingWindow, 0.0);
    ASSERT_EQ(f->FrameCount(), 1);
    EXPECT_EQ(argmax(f->Frame(0), f->BinCount()), 186);  // 1000 / 5.38199 = 185.8
    EXPECT_NEAR(f->Frame(0)[186], 0.54, 0.03);

    // A full-scale sine centred on bin 12: 0.54 with the window, 1.0 without,
    // also for a frame size that is not a power of two.
    for (int32_t n : {8192, 1000}) {
        std::vector<int16_t> x(n);
        for (int32_t i = 0; i < n; ++i) x[i] = int16_t(std::lround(32767 * std::sin(2 * kPi * 12 * i / n)));
        auto centred = test::songOf(x, 44100);
        for (int32_t window : {0, FrameData::kHammingWindow}) {
            SCOPED_TRACE(testing::Message() << n << " window " << window);
            auto g = spectrumOf(*centred, n, window, 0.0);
            EXPECT_EQ(argmax(g->Frame(0), g->BinCount()), 12);
            EXPECT_NEAR(g->Value(0, 12), window == 0 ? 1.0 : 0.54, 2e-3);
        }
    }
}

TEST(FFTObj, ReSampleTakesBandMaxima) {
    // At 25650 Hz with 1024-sample frames the bins are exactly 25 Hz apart, so
    // bins fall on band edges (and belong to the band above).
    struct Config { int32_t n, rate; };
    for (Config c : {Config{8192, 44100}, Config{1024, 25650}}) {
        SCOPED_TRACE(c.n);
        std::vector<int16_t> x(c.rate);
        for (size_t i = 0; i < x.size(); ++i) x[i] = int16_t((i * 7919 % 20011) - 10005);  // broadband
        auto song = test::songOf(x, c.rate);
        auto f = spectrumOf(*song, c.n, FrameData::kHammingWindow, 0.0);
        const int32_t frames = f->FrameCount();
        ASSERT_GE(frames, 2);
        const double spacing = f->BinSpacing();
        std::vector<float> expected(frames * 40, 0.0f);
        for (int32_t i = 0; i < frames; ++i) {
            for (int32_t k = 0; k * spacing < 8000.0; ++k) {
                const double hz = k * spacing;
                const int32_t band = hz < 1000.0 ? int32_t(hz / 50.0) : 20 + int32_t((hz - 1000.0) / 350.0);
                expected[i * 40 + band] = std::max(expected[i * 40 + band], f->Frame(i)[k]);
            }
        }
        if (c.n == 8192) {
            EXPECT_EQ(int32_t(10 * spacing / 50.0), 1);  // band 0 is bins 0 to 9
        } else {
            EXPECT_EQ(spacing, 25.0);
        }
        f->ReSample(40, true);
        EXPECT_EQ(f->BinCount(), 40);
        EXPECT_EQ(f->elementCount, frames * 40);
        EXPECT_EQ(std::vector<float>(f->Frame(0), f->Frame(0) + frames * 40), expected);
        f->Compute(0.5);  // band rows only: not computed again
        EXPECT_EQ(f->BinCount(), 40);
    }

    struct Case { int32_t n, rate; bool ok; };
    for (Case c : {Case{1024, 44100, true}, Case{512, 22050, true}, Case{128, 44100, false},
                   Case{64, 1000, false} /* 33 bins for 40 bands */}) {
        SCOPED_TRACE(c.n);
        auto s = test::songOf(test::tone(100, c.rate, 4 * c.n, 1000), c.rate);
        auto g = spectrumOf(*s, c.n, 0, 0.0);
        EXPECT_EQ(quorbixMessage([&] { g->ReSample(40, true); }),
                  c.ok ? "(nothing thrown)" : "Oversampling not supported in ReSample");
    }
}

TEST(FFTObj, BeatOverlapAndSemitones) {
    auto song = test::songOf(test::tone(100, 22050, 4096, 1000), 22050);
    auto f = spectrumOf(*song, 2048, 0, 0.0);
    EXPECT_NEAR(f->FrameDuration(), 92.88, 0.01);
    EXPECT_NEAR(f->BeatOverlap(120.0), 1.0 - (60.0 * 22050) / (2048.0 * 8 * 120), 1e-12);  // 0.327
    EXPECT_NEAR(f->BeatOverlap(1000.0), 1.0 - (60.0 * 22050) / (2048.0 * 2 * 1000), 1e-12);
    EXPECT_EQ(f->BeatOverlap(2000.0), 0.5);  // would be above 0.8
    EXPECT_EQ(f->BeatOverlap(0.0), 0.0);

    EXPECT_EQ(FFTObj::FrequencyToSemitone(27.5), 0);
    EXPECT_EQ(FFTObj::FrequencyToSemitone(440.0), 48);
    EXPECT_EQ(FFTObj::FrequencyToSemitone(27.5 * std::pow(2.0, 12.4 / 12)), 12);
    EXPECT_EQ(FFTObj::FrequencyToSemitone(27.5 * std::pow(2.0, 12.6 / 12)), 13);
    EXPECT_EQ(FFTObj::FrequencyToSemitone(27.5 * std::pow(2.0, -2.6 / 12)), -3);  // away from zero
}

TEST(FFTObj, SetStepErrorsAndQuickShutdown) {
    FFTObj unattached;
    EXPECT_EQ(quorbixMessage([&] { unattached.SetFrameSize(512); }), "SetStep:programming error:Rate");
    auto song = test::songOf(test::tone(100, 22050, 4096, 1000), 22050);
    unattached.SetSignal(song.get());  // the failed sizing left a consistent 512-sample object
    unattached.Compute(0.0);
    EXPECT_EQ(unattached.FrameCount(), 8);
    EXPECT_EQ(unattached.BinCount(), 257);
    auto f = spectrumOf(*song, 512, 0, 0.0);
    EXPECT_EQ(quorbixMessage([&] { f->Compute(1.0); }), "SetStep:programming error:Step");
    EXPECT_EQ(quorbixMessage([&] { f->Compute(std::nan("")); }), "SetStep:programming error:Step");

    gQuickShutdown = true;
    const char* thrown = nullptr;
    try {
        f->Compute(0.25);
    } catch (const char* text) {
        thrown = text;
    }
    gQuickShutdown = false;
    ASSERT_NE(thrown, nullptr);
    EXPECT_STREQ(thrown, "Aborting analysis to achieve quick shutdown.");
    f->Compute(0.25);
    EXPECT_EQ(f->FrameCount(), (4096 - 512) / 384 + 1);
}
