#!/bin/sh
# Foundation benchmark. Times `vexcore validate` on a 4-minute 44.1 kHz 16-bit
# WAVE (decode, trim, remove DC, resample a mono signal to 22050 Hz, normalise)
# beside sox down-mixing and resampling the same file to 22050 Hz, and prints
# both wall times and their ratio, for a stereo and a mono copy; then runs the
# resampler micro-benchmark and every bench/peer_*.sh.
# Usage: sh bench/run.sh BUILD_DIR [RUNS]
set -eu

build=${1:?usage: run.sh BUILD_DIR [RUNS]}
runs=${2:-5}
here=$(cd "$(dirname "$0")" && pwd)
vexcore="$build/vexcore"
[ -x "$vexcore" ] || { echo "no vexcore in $build" >&2; exit 1; }
command -v sox >/dev/null || { echo "sox is needed (Debian: sox)" >&2; exit 1; }

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT INT TERM
stereo="$dir/in.wav"
mono="$dir/mono.wav"
# Two tones (one per channel) over pink noise: neither silence nor a pure tone,
# so trimming keeps the whole song and the filter sees a full spectrum.
sox -n -r 44100 -c 2 -b 16 "$stereo" synth 240 sine 440 sine 660 synth 240 pinknoise mix vol 0.5 \
    2>/dev/null
# validate prepares the signal with PrepareMono whatever its channel count, and
# the rate change only applies to one channel; so a mono copy shows the
# resampler's share.
sox "$stereo" -c 1 "$mono"

. "$here/lib.sh"

how=$(how_timed)
echo "== 4-minute 44.1 kHz 16-bit WAVE to 22050 Hz, $how"

# compare LABEL SONG: times validate and sox on SONG and prints one row.
compare() {
    label=$1
    song=$2
    status=0
    "$vexcore" validate "$song" "$dir/out.bin" >/dev/null 2>&1 || status=$?
    if [ "$status" -ne 0 ]; then
        echo "vexcore validate failed on the $label song (exit status $status)" >&2
        exit 1
    fi
    vex_time=$(timed "$vexcore" validate "$song" "$dir/out.bin")
    sox_time=$(timed sox "$song" -c 1 -r 22050 -t s16 /dev/null)
    row "$label" "vexcore validate" "$vex_time" "sox -c 1 -r 22050" "$sox_time"
}

compare stereo "$stereo"
compare mono "$mono"

echo
echo "== resampler: reference loop vs fast path (items = input samples)"
if [ -x "$build/bench/resampler_bench" ]; then
    "$build/bench/resampler_bench" --benchmark_min_time=0.5
else
    echo "not built: configure $build with -DVEX_BENCH=ON (needs Google Benchmark)"
fi

for peer in "$here"/peer_*.sh; do
    [ -f "$peer" ] || continue
    echo
    echo "== $(basename "$peer")"
    sh "$peer" "$build" || echo "$(basename "$peer") failed (exit status $?)"
done
