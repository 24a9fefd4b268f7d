#!/bin/sh
# Decoding speed of the MPEG audio reader beside mpg123: makes a 4-minute
# 192 kbit/s stereo MP3 with lame, decodes it through the reader
# (BUILD_DIR/vextool decode, which loads the file into a signal and writes it
# out) and with `mpg123 -q -s` (raw PCM), both to /dev/null. Prints the best
# of RUNS (default 3) wall-clock and CPU times of each and the ratios.
set -eu

BUILD=${1:?usage: bench/peer_mp3.sh BUILD_DIR}
RUNS=${RUNS:-3}
TOOL=$BUILD/vextool
for need in lame mpg123; do
    command -v "$need" >/dev/null 2>&1 || { echo "peer_mp3.sh: $need is not installed" >&2; exit 2; }
done
[ -x "$TOOL" ] || { echo "peer_mp3.sh: $TOOL is not built" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/vex-mp3bench.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

# Four minutes of stereo material: a chord on the left, noise under a tone
# on the right, so the encoder spends its bits on both channels.
if command -v sox >/dev/null 2>&1; then
    sox -n -r 44100 -c 2 -b 16 "$work/in.wav" synth 240 pluck C3 pinknoise vol 0.5 remix 1 1v0.3,2
else
    ffmpeg -loglevel error -f lavfi -i "sine=frequency=220:duration=240" -f lavfi \
        -i "anoisesrc=duration=240:amplitude=0.2:seed=1" -filter_complex "[0][1]amerge=inputs=2" \
        -ar 44100 "$work/in.wav"
fi
lame --quiet -b 192 -m j "$work/in.wav" "$work/song.mp3"

# best_of COMMAND...: prints "wall cpu" (seconds) of the fastest run.
best_of() {
    best=""
    i=0
    while [ "$i" -lt "$RUNS" ]; do
        /usr/bin/time -f "%e %U %S" -o "$work/t" "$@" > /dev/null 2>&1
        line=$(awk '{ printf "%.3f %.3f", $1, $2 + $3 }' "$work/t")
        if [ -z "$best" ] || [ "$(echo "$line $best" | awk '{ print ($1 < $3) }')" = 1 ]; then best=$line; fi
        i=$((i + 1))
    done
    echo "$best"
}

ours=$(best_of "$TOOL" decode "$work/song.mp3" /dev/null)
peer=$(best_of mpg123 -q -s "$work/song.mp3")
echo "$ours $peer" | awk '{
    printf "reader (vextool decode): wall %.3f s  cpu %.3f s\n", $1, $2
    printf "mpg123 -q -s:            wall %.3f s  cpu %.3f s\n", $3, $4
    printf "ratio reader/mpg123:     wall %.2f  cpu %.2f\n", $1 / $3, $2 / $4
}'

# The reader alone (loadMP3File into a signal, no output file), when the
# benchmark is built.
if [ -x "$BUILD/bench/mp3_bench" ]; then
    VEX_MP3_BENCH_FILE="$work/song.mp3" "$BUILD/bench/mp3_bench" --benchmark_repetitions="$RUNS" \
        --benchmark_report_aggregates_only=true 2>/dev/null | grep -E "BM_|Benchmark" || true
fi
