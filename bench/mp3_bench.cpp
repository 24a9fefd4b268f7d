// Decoding speed of the MPEG audio reader: loadMP3File into a SignalObj (the
// whole-stream decode, the collector and the copy into the signal) on the
// file named by VEX_MP3_BENCH_FILE, or else on a 4-minute 192 kbit/s stereo
// file made with lame at set-up. bench/peer_mp3.sh sets the peer beside it.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio/mp3/MP3File.h"
#include "dsp/SignalObj.h"

namespace {

void put32(std::FILE* f, uint32_t v) {
    for (int i = 0; i < 4; ++i) std::fputc(int((v >> (8 * i)) & 0xFF), f);
}

// A stereo 44.1 kHz WAVE of decaying plucked partials and seeded noise.
bool writeMaterial(const std::string& path, int seconds) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const uint32_t frames = uint32_t(44100 * seconds);
    std::fputs("RIFF", f);
    put32(f, 36 + frames * 4);
    std::fputs("WAVEfmt ", f);
    put32(f, 16);
    put32(f, 0x00020001);  // PCM, 2 channels
    put32(f, 44100);
    put32(f, 44100 * 4);
    put32(f, 0x00100004);  // block 4, 16 bits
    std::fputs("data", f);
    put32(f, frames * 4);
    uint32_t seed = 1;
    for (uint32_t i = 0; i < frames; ++i) {
        const double t = (i % 22050) / 44100.0;
        const double pluck = std::exp(-6 * t) * (std::sin(2 * M_PI * 196 * t) + 0.5 * std::sin(2 * M_PI * 392 * t));
        seed = seed * 1664525u + 1013904223u;
        const double hiss = (double(seed >> 16) / 65536.0 - 0.5) * 0.1;
        const int16_t l = int16_t(12000 * (pluck + hiss)), r = int16_t(12000 * (0.7 * pluck - hiss));
        std::fputc(l & 0xFF, f), std::fputc((l >> 8) & 0xFF, f);
        std::fputc(r & 0xFF, f), std::fputc((r >> 8) & 0xFF, f);
    }
    return std::fclose(f) == 0;
}

std::string benchFile() {
    if (const char* given = std::getenv("VEX_MP3_BENCH_FILE")) return given;
    static std::string made;
    if (made.empty()) {
        const std::string wav = "/tmp/vex_mp3_bench.wav", mp3 = "/tmp/vex_mp3_bench.mp3";
        if (!writeMaterial(wav, 240)) return "";
        if (std::system(("lame --quiet -b 192 " + wav + " " + mp3).c_str()) != 0) return "";
        std::remove(wav.c_str());
        made = mp3;
    }
    return made;
}

void BM_LoadMP3File(benchmark::State& state) {
    const std::string path = benchFile();
    if (path.empty()) {
        state.SkipWithError("no input: set VEX_MP3_BENCH_FILE or install lame");
        return;
    }
    int64_t frames = 0;
    for (auto _ : state) {
        SignalObj signal;
        if (!loadMP3File(signal, path.c_str(), -1)) {
            state.SkipWithError("the file did not load");
            return;
        }
        frames = signal.length;
        benchmark::DoNotOptimize(signal.data);
    }
    state.counters["frames"] = double(frames);
}
BENCHMARK(BM_LoadMP3File)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
