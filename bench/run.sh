#!/bin/sh
# `make bench`: the whole-process table beside the peer tools (bench/peers.sh),
# then the micro-benchmarks of the pieces (resampler, filters, readers, MPEG
# decoder) when BUILD_DIR was configured with them.
# Usage: sh bench/run.sh BUILD_DIR [SONG]
set -eu

build=${1:?usage: run.sh BUILD_DIR [SONG]}
here=$(cd "$(dirname "$0")" && pwd)
sh "$here/peers.sh" "$@"

# readers_bench needs VEX_BENCH_FLAC and VEX_BENCH_OGG set to files of your own.
for b in resampler_bench filters_bench mp3_bench; do
    if [ -x "$build/bench/$b" ]; then
        echo
        echo "== $b"
        "$build/bench/$b" --benchmark_min_time=0.2 2>/dev/null || echo "$b failed (exit status $?)"
    fi
done
