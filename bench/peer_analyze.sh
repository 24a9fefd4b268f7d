#!/bin/sh
# Wall time of `vexcore analyze` on a 4-minute 44.1 kHz stereo WAVE beside
# `aubio tempo` (Debian aubio-tools) on the same file.
# Usage: sh bench/peer_analyze.sh BUILD_DIR [RUNS]
set -eu

build=${1:?usage: peer_analyze.sh BUILD_DIR [RUNS]}
runs=${2:-3}
vexcore="$build/vexcore"
[ -x "$vexcore" ] || { echo "no vexcore in $build" >&2; exit 1; }
command -v sox >/dev/null || { echo "sox is needed to make the test song" >&2; exit 1; }
command -v aubio >/dev/null || { echo "aubio (aubio-tools) is needed as the peer" >&2; exit 1; }

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT INT TERM
song="$dir/song.wav"
# Plucked tones over pink noise with a 2 Hz tremolo: tonal, noisy and pulsed.
sox -n -r 44100 -c 2 -b 16 "$song" synth 240 pluck 220 pluck 330 synth 240 pinknoise mix \
    tremolo 2 80 vol 0.5 2>/dev/null

now() { date +%s.%N; }

# Best of `runs` wall times of a command, in seconds.
best() {
    b=""
    i=0
    while [ "$i" -lt "$runs" ]; do
        t0=$(now)
        "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
        t1=$(now)
        t=$(echo "$t1 - $t0" | bc -l)
        if [ -z "$b" ] || [ "$(echo "$t < $b" | bc -l)" = 1 ]; then b=$t; fi
        i=$((i + 1))
    done
    echo "$b"
}

ours=$(best "$vexcore" analyze "$song" "$dir/out")
[ "$(wc -c < "$dir/out")" -eq 71 ] || { echo "analysis record is not 71 bytes" >&2; exit 1; }
peer=$(best aubio tempo "$song")

printf 'song: 240 s, 44100 Hz, stereo WAVE (best of %s runs)\n' "$runs"
printf 'vexcore analyze: %8.3f s\n' "$ours"
printf 'aubio tempo:     %8.3f s\n' "$peer"
printf 'ratio (vexcore / aubio): %.2f\n' "$(echo "$ours / $peer" | bc -l)"
