#!/bin/sh
# Wall time of `vexcore fp` beside a peer fingerprinter (fpcalc) on the same
# 4-minute 44.1 kHz stereo WAVE file, and on an MP3 of it once the MP3 reader
# decodes it. Best of $RUNS runs each (default 5). Target: ratio <= 1.
# Usage: sh bench/peer_fp.sh BUILD_DIR
set -eu
BUILD=${1:?usage: sh bench/peer_fp.sh BUILD_DIR}
runs=${RUNS:-5}
VEXCORE="$BUILD/vexcore"
[ -x "$VEXCORE" ] || { echo "no $VEXCORE: build it first" >&2; exit 1; }
for tool in sox fpcalc; do
    command -v "$tool" >/dev/null || { echo "missing $tool (see the Makefile's PACKAGES)" >&2; exit 1; }
done

TMP=$(mktemp -d)
dir=$TMP
trap 'rm -rf "$TMP"' EXIT INT TERM

# Left: a sine sweep over five octaves; right: pink noise. Tonal and noisy
# content both, so the tracker and the decomposition have work to do.
sox -n -r 44100 -b 16 -c 2 "$TMP/song.wav" synth 240 sine 110-3520 pinknoise gain -6
FILES="$TMP/song.wav"

if command -v lame >/dev/null; then
    lame --quiet -b 192 "$TMP/song.wav" "$TMP/song.mp3"
    # Only when the MP3 reader gives a non-zero decoded duration.
    if "$VEXCORE" validate "$TMP/song.mp3" "$TMP/v.rec" &&
       [ "$(od -An -tx1 -j1 -N8 "$TMP/v.rec" | tr -d ' \n')" != "0000000000000000" ]; then
        FILES="$FILES $TMP/song.mp3"
    else
        echo "(MP3 left out: vexcore validate gives no duration for it)"
    fi
fi

. "$(dirname "$0")/lib.sh"

echo "best of $runs runs"
for f in $FILES; do
    ours=$(best "$VEXCORE" fp "$f" "$TMP/out.fp")
    expect_size "$TMP/out.fp" 565
    rm -f "$TMP/out.fp"
    peer=$(best fpcalc "$f")
    row "$(basename "$f")" "vexcore fp" "$ours" "fpcalc" "$peer"
done
