// The FLAC and Ogg Vorbis readers beside the bare library decode of the same
// file, to show what the readers add (interleaving, 16-bit copy, the surplus
// check). Files come from VEX_BENCH_FLAC and VEX_BENCH_OGG, which
// bench/peer_codecs.sh sets; a benchmark without its file is skipped.
#include <benchmark/benchmark.h>

#include <FLAC/stream_decoder.h>
#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio/FLACFile.h"
#include "audio/OggFile.h"

namespace {

const char* fileFrom(const char* variable, benchmark::State& state) {
    const char* path = std::getenv(variable);
    if (!path) state.SkipWithError((std::string(variable) + " is not set").c_str());
    return path;
}

template <class Reader>
void readWhole(benchmark::State& state, const char* variable) {
    const char* path = fileFrom(variable, state);
    if (!path) return;
    std::vector<int16_t> dest;
    {
        Reader reader;
        if (!reader.open(path)) {
            state.SkipWithError("cannot open the file");
            return;
        }
        // Sized and touched before timing: page faults on a fresh buffer are
        // the signal's cost, not the reader's.
        dest.assign(static_cast<size_t>(std::max(reader.sampleCount(), 0)), 1);
    }
    for (auto _ : state) {
        Reader reader;
        if (!reader.open(path) || static_cast<size_t>(reader.sampleCount()) > dest.size()) {
            state.SkipWithError("the file changed");
            return;
        }
        reader.readAll(dest.data());
        reader.close();
        benchmark::DoNotOptimize(dest.data());
    }
}

void BM_FLACFileReadAll(benchmark::State& state) { readWhole<FLACFile>(state, "VEX_BENCH_FLAC"); }
void BM_OggFileReadAll(benchmark::State& state) { readWhole<OggFile>(state, "VEX_BENCH_OGG"); }

FLAC__StreamDecoderWriteStatus discard(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                       const FLAC__int32* const buffer[], void*) {
    benchmark::DoNotOptimize(buffer[0][frame->header.blocksize - 1]);
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}
void noMetadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata*, void*) {}
void noError(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void*) {}

void BM_LibFLACDecodeOnly(benchmark::State& state) {
    const char* path = fileFrom("VEX_BENCH_FLAC", state);
    if (!path) return;
    for (auto _ : state) {
        FLAC__StreamDecoder* d = FLAC__stream_decoder_new();
        if (FLAC__stream_decoder_init_file(d, path, discard, noMetadata, noError, nullptr) ==
            FLAC__STREAM_DECODER_INIT_STATUS_OK)
            FLAC__stream_decoder_process_until_end_of_stream(d);
        FLAC__stream_decoder_finish(d);
        FLAC__stream_decoder_delete(d);
    }
}

void BM_LibVorbisfileDecodeOnly(benchmark::State& state) {
    const char* path = fileFrom("VEX_BENCH_OGG", state);
    if (!path) return;
    char block[4096];
    for (auto _ : state) {
        FILE* f = std::fopen(path, "rb");
        OggVorbis_File vf;
        if (!f || ov_open(f, &vf, nullptr, 0) < 0) {
            if (f) std::fclose(f);
            state.SkipWithError("cannot open the file");
            return;
        }
        int section = 0;
        while (ov_read(&vf, block, sizeof block, 0, 2, 1, &section) > 0)
            benchmark::DoNotOptimize(block[0]);
        ov_clear(&vf);
    }
}

}  // namespace

BENCHMARK(BM_LibFLACDecodeOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FLACFileReadAll)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibVorbisfileDecodeOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OggFileReadAll)->Unit(benchmark::kMillisecond);
