#!/bin/sh
# One table of whole-process figures: decode, validate, fp and analyze on the
# same song as MP3, FLAC, Ogg Vorbis and WAVE, each beside the tool a user
# would reach for instead. Every cell is the median of RUNS runs (default 5):
# wall time, CPU time (user + system) and peak resident memory.
#
# Usage: sh bench/peers.sh BUILD_DIR [SONG]
#   ONLY=analyze (or decode, validate, fp): just that command's rows.
#   SONG: any file sox reads (converted to 44.1 kHz 16-bit stereo WAVE first);
#   by default a 4-minute generated song. The MP3 is lame -b 192 -m j, the
#   FLAC flac -5, the Ogg oggenc -q 4, all made from that WAVE.
set -eu

build=${1:?usage: sh bench/peers.sh BUILD_DIR [SONG]}
song=${2:-}
runs=${RUNS:-5}
vexcore="$build/vexcore"
vextool="$build/vextool"
for f in "$vexcore" "$vextool"; do
    [ -x "$f" ] || { echo "no $f: build first (make build)" >&2; exit 1; }
done
for tool in sox lame flac oggenc oggdec mpg123 fpcalc aubio; do
    command -v "$tool" >/dev/null || { echo "missing $tool (see the Makefile's PACKAGES)" >&2; exit 1; }
done

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT INT TERM

if [ -n "$song" ]; then
    sox "$song" -r 44100 -c 2 -b 16 "$dir/song.wav"
else
    # Plucked tones over pink noise with a 2 Hz tremolo: tonal, noisy and
    # pulsed, so every step of every command has work to do.
    sox -n -r 44100 -c 2 -b 16 "$dir/song.wav" synth 240 pluck 220 pluck 330 synth 240 pinknoise \
        mix tremolo 2 80 vol 0.5 2>/dev/null
fi
lame --quiet -b 192 -m j "$dir/song.wav" "$dir/song.mp3"
flac -s -5 -o "$dir/song.flac" "$dir/song.wav"
oggenc -Q -q 4 -o "$dir/song.ogg" "$dir/song.wav"

# once FILE CMD...: one run of CMD, its "wall cpu peak_kB" appended to FILE.
once() {
    file=$1
    shift
    # Wall time from the clock in nanoseconds: time's own %e has 10 ms
    # steps, too coarse for the rows that take a tenth of a second.
    start=$(date +%s%N)
    /usr/bin/time -f "%U %S %M" -o "$dir/t" "$@" >/dev/null 2>&1 ||
        { echo "failed: $*" >&2; exit 1; }
    end=$(date +%s%N)
    echo "$(awk -v ns=$((end - start)) 'BEGIN { printf "%.4f", ns / 1e9 }') $(awk '{ print $1 + $2, $3 }' "$dir/t")" >> "$file"
}

# medians FILE: the median of each column of FILE, on one line.
medians() {
    for col in 1 2 3; do
        awk -v c=$col '{ print $c }' "$1" |
            sort -g | awk '{ v[NR] = $1 } END { printf "%s ", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
    done
}

printf '%s; median of %s runs; CPU = user + system; peak = max resident memory\n' \
    "$(if [ -n "$song" ]; then basename "$song"; else echo "generated 240 s stereo song"; fi)" "$runs"
printf '%-9s %-6s| %7s %7s %7s | %-28s %7s %7s %7s | %6s %6s\n' \
    command format wall cpu MB peer wall cpu MB wall× cpu×
printf '%s\n' "---------------------------------------------------------------------------------------------------------"

# row COMMAND FORMAT PEER_LABEL -- OUR_CMD... -- PEER_CMD...
row() {
    cmd=$1 fmt=$2 label=$3
    shift 4
    [ -z "${ONLY:-}" ] || [ "$ONLY" = "$cmd" ] || return 0
    ours="" ; peer=""
    while [ "$1" != "--" ]; do ours="$ours $1"; shift; done
    shift
    # Ours and the peer's runs alternate, so that a machine that speeds up
    # or slows down during the row weighs on both sides alike.
    : > "$dir/ours"
    : > "$dir/peer"
    i=0
    while [ "$i" -lt "$runs" ]; do
        # Word splitting is intended: no path here holds a space (mktemp -d).
        # shellcheck disable=SC2086
        once "$dir/ours" $ours
        once "$dir/peer" "$@"
        i=$((i + 1))
    done
    echo "$(medians "$dir/ours") $(medians "$dir/peer")" | awk -v c="$cmd" -v f="$fmt" -v l="$label" '{
        printf "%-9s %-6s| %7.3f %7.3f %7.0f | %-28s %7.3f %7.3f %7.0f | %6.2f %6.2f\n",
            c, f, $1, $2, $3 / 1024, l, $4, $5, $6 / 1024, ($4 > 0 ? $1 / $4 : 0), ($5 > 0 ? $2 / $5 : 0) }'
}

s=$dir/song
out=$dir/out
row decode MP3 "mpg123 -q -s" -- "$vextool" decode "$s.mp3" /dev/null -- mpg123 -q -s "$s.mp3"
row decode FLAC "flac -d -c" -- "$vextool" decode "$s.flac" /dev/null -- flac -s -d -c "$s.flac"
row decode Ogg "oggdec" -- "$vextool" decode "$s.ogg" /dev/null -- oggdec -Q -o /dev/null "$s.ogg"
for fmt in mp3 flac ogg wav; do
    F=$(echo "$fmt" | sed 's/mp3/MP3/; s/flac/FLAC/; s/ogg/Ogg/; s/wav/WAVE/')
    row validate "$F" "sox -c 1 -r 22050" -- "$vexcore" validate "$s.$fmt" "$out" \
        -- sox "$s.$fmt" -c 1 -r 22050 -t s16 /dev/null
done
sox "$s.wav" -c 1 "$dir/mono.wav"
row validate "mono" "sox -c 1 -r 22050" -- "$vexcore" validate "$dir/mono.wav" "$out" \
    -- sox "$dir/mono.wav" -c 1 -r 22050 -t s16 /dev/null
for fmt in mp3 flac ogg wav; do
    F=$(echo "$fmt" | sed 's/mp3/MP3/; s/flac/FLAC/; s/ogg/Ogg/; s/wav/WAVE/')
    row fp "$F" "fpcalc" -- "$vexcore" fp "$s.$fmt" "$out" -- fpcalc "$s.$fmt"
done
for fmt in mp3 flac ogg wav; do
    F=$(echo "$fmt" | sed 's/mp3/MP3/; s/flac/FLAC/; s/ogg/Ogg/; s/wav/WAVE/')
    row analyze "$F" "aubio tempo" -- "$vexcore" analyze "$s.$fmt" "$out" -- aubio tempo "$s.$fmt"
done
