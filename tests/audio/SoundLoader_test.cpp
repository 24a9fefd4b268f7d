#include <gtest/gtest.h>

#include <cstring>

#include "Encoders.h"
#include "Signals.h"
#include "TestFiles.h"
#include "audio/FileFormat.h"
#include "dsp/QuorbixError.h"
#include "dsp/SignalObj.h"

namespace {

// The same interleaved stereo as s.wav, s.flac and s.ogg in `dir`.
void writeEveryFormat(const test::TempDir& dir, const std::vector<int16_t>& stereo, int32_t rate) {
    registerAllFormats();
    test::writeWav(dir.path("s.wav"), stereo, rate, 2);
    test::writeFlac(dir.path("s.flac"), stereo, 2, rate);
    test::writeOggVorbis(dir.path("s.ogg"), stereo, 2, rate);
}

}  // namespace

// The MPEG reader only counts frames past the limit; under one frame both
// fail with the crop's error.
TEST(SoundLoader, LimitedLoadEqualsWholeLoadCropped) {
    test::TempDir dir;
    const int32_t rate = 22050;
    writeEveryFormat(dir, test::interleave(test::sine(440, rate, 4.0, 9000.0), test::noise(rate, 4.0, 3000.0, 7)), rate);
    test::writeFlac(dir.path("m.flac"), test::sine(300, rate, 4.0), 1, rate);
    std::vector<const char*> names = {"s.wav", "s.flac", "s.ogg", "m.flac"};
    if (test::haveTool("lame") && test::runProgram("lame", {"--quiet", dir.path("s.wav"), dir.path("s.mp3")}) == 0)
        names.push_back("s.mp3");
    for (const char* name : names) {
        for (double limit : {1500.0, 2999.9, 0.01}) {
            SCOPED_TRACE(std::string(name) + " " + std::to_string(limit));
            const std::string path = dir.path(name);
            const auto* format = findFormat(path.c_str(), path.size());
            ASSERT_NE(format, nullptr);
            SignalObj whole, limited;
            ASSERT_TRUE(format->load(whole, path.c_str(), -1));
            if (limit < 1.0) {
                EXPECT_THROW(whole.Crop(0.0, limit), QuorbixError);
                EXPECT_THROW(format->load(limited, path.c_str(), limit), QuorbixError);
                continue;
            }
            const double wholeMs = whole.durationMs;
            whole.Crop(0.0, limit);
            ASSERT_TRUE(format->load(limited, path.c_str(), limit));
            EXPECT_EQ(limited.length, whole.length);
            EXPECT_EQ(limited.width, whole.width);
            EXPECT_EQ(limited.elementCount, whole.elementCount);
            EXPECT_DOUBLE_EQ(limited.durationMs, wholeMs);
            EXPECT_TRUE(std::equal(whole.data, whole.data + whole.elementCount, limited.data));
        }
    }
}

// Headers announce more than the file holds (WAVE: data size; FLAC: STREAMINFO
// total; Ogg: last granule position): the duration is the announced one, the
// buffer stops a little after the delivered values.
TEST(SoundLoader, ShortFileIsPreparedAsItsAnnouncedLength) {
    test::TempDir dir;
    const int32_t rate = 22050, announced = 120 * rate;
    const double seconds = 3.0;
    writeEveryFormat(dir, test::interleave(test::music(rate, seconds, 3), test::music(rate, seconds, 4)), rate);
    auto bytes = test::readBytes(dir.path("s.wav"));
    test::putLE(bytes, 40, uint32_t(announced) * 4, 4);
    test::writeBytes(dir.path("s.wav"), bytes);
    test::setFlacTotalSamples(dir.path("s.flac"), uint64_t(announced));
    bytes = test::readBytes(dir.path("s.ogg"));
    const size_t last = test::oggPages(bytes).back();
    test::putLE(bytes, last + 6, uint64_t(announced), 8);
    test::resealOggPage(bytes, last);
    test::writeBytes(dir.path("s.ogg"), bytes);

    for (const char* name : {"s.wav", "s.flac", "s.ogg"}) {
        for (const bool stereoPreparation : {false, true}) {
            SCOPED_TRACE(std::string(name) + (stereoPreparation ? " stereo" : " mono"));
            const std::string path = dir.path(name);
            SignalObj loaded, whole;
            ASSERT_TRUE(findFormat(path.c_str(), path.size())->load(loaded, path.c_str(), -1));
            EXPECT_DOUBLE_EQ(loaded.durationMs, 1000.0 * announced / rate);
            EXPECT_LT(loaded.elementCount, int32_t(2.5 * seconds * rate * 2));
            whole.CreateBuffer(announced * 2, rate, true);
            std::copy(loaded.data, loaded.data + loaded.elementCount, whole.data);
            for (SignalObj* s : {&loaded, &whole}) stereoPreparation ? s->Prepare(44100, 50.0) : s->PrepareMono(22050, 2.2);
            ASSERT_EQ(loaded.length, whole.length);
            EXPECT_GT(loaded.length, 0);
            EXPECT_TRUE(std::equal(whole.data, whole.data + whole.elementCount, loaded.data));
        }
    }
}

// A stereo WAVE mixed down while it is read, given to Prepare, is the same as
// the stereo samples measured and mixed there: the plain mix, the difference
// mix of a stereo signal in opposite phase, a file cut in the middle of a
// value, a limited load, and sums too large to be exact, where the reader
// falls back to the stereo samples.
TEST(SoundLoader, DownMixWhileLoadingIsTheDownMixOfPrepare) {
    registerAllFormats();
    test::TempDir dir;
    const int32_t rate = 22050;
    const auto music = test::music(rate, 15.0, 5);
    std::vector<int16_t> opposite(music.size());
    for (size_t i = 0; i < music.size(); ++i) opposite[i] = int16_t(-music[i]);
    test::writeWav(dir.path("s.wav"), test::interleave(music, test::noise(rate, 15.0, 4000.0, 3)), rate, 2);
    test::writeWav(dir.path("opposite.wav"), test::interleave(music, opposite), rate, 2);
    auto cut = test::readBytes(dir.path("s.wav"));
    cut.resize(44 + 4 * 200001 + 3);  // a frame's left value and the low byte of its right
    test::writeBytes(dir.path("cut.wav"), cut);
    // Full-scale square waves: the sums of squares pass 2^53 after 8.4 million frames.
    std::vector<int16_t> loud(2 * 8500000);
    for (size_t i = 0; i < loud.size(); ++i) loud[i] = ((i / 2) % 40 < 20) == (i % 2 == 0) ? 32767 : -32768;
    test::writeWav(dir.path("loud.wav"), loud, 8000, 2);

    const struct {
        const char* name;
        double maxMs;
        bool mixedWhileLoading;
    } cases[] = {{"s.wav", -1, true}, {"s.wav", 9000.0, true}, {"opposite.wav", -1, true},
                 {"cut.wav", -1, true}, {"loud.wav", -1, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.maxMs));
        const std::string path = dir.path(c.name);
        SignalObj plain, mixed;
        mixed.downMixOnLoad = true;
        ASSERT_EQ(loadSong(plain, path.c_str(), c.maxMs), LoadOutcome::kLoaded);
        ASSERT_EQ(loadSong(mixed, path.c_str(), c.maxMs), LoadOutcome::kLoaded);
        EXPECT_EQ(mixed.width, c.mixedWhileLoading ? 1 : 2);
        EXPECT_TRUE(mixed.wasStereo);
        EXPECT_EQ(mixed.durationMs, plain.durationMs);
        for (SignalObj* s : {&plain, &mixed}) s->Prepare(s->rate, 2.2);
        ASSERT_EQ(mixed.length, plain.length);
        EXPECT_TRUE(std::equal(plain.data, plain.data + plain.length, mixed.data));
        EXPECT_EQ(mixed.stereoDifference, plain.stereoDifference);
        EXPECT_EQ(std::memcmp(&mixed.stereoCorrelation, &plain.stereoCorrelation, sizeof(double)), 0);
        EXPECT_EQ(std::memcmp(&mixed.stereoBalanceDb, &plain.stereoBalanceDb, sizeof(double)), 0);
        EXPECT_EQ(mixed.gain, plain.gain);
    }
}
