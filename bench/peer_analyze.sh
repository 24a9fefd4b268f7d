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

. "$(dirname "$0")/lib.sh"

ours=$(best "$vexcore" analyze "$song" "$dir/out")
expect_size "$dir/out" 71
peer=$(best aubio tempo "$song")

printf 'song: 240 s, 44100 Hz, stereo WAVE (best of %s runs)\n' "$runs"
row WAVE "vexcore analyze" "$ours" "aubio tempo" "$peer"
