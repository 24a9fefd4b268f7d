#!/bin/sh
# Wall time of `vexcore validate` on a 4-minute 44.1 kHz stereo FLAC and Ogg
# Vorbis file beside the codecs' own command-line decoders (flac -d, oggdec)
# on the same files. validate also prepares the signal (trim, DC, resample to
# 22050 Hz), so `vextool decode` (load only, written to /dev/null) is timed
# too, and bench/readers_bench (reader alone vs library alone) runs when built.
# Usage: sh bench/peer_codecs.sh BUILD_DIR [RUNS]
set -eu

build=${1:?usage: peer_codecs.sh BUILD_DIR [RUNS]}
runs=${2:-5}
vexcore="$build/vexcore"
vextool="$build/vextool"
[ -x "$vexcore" ] || { echo "no vexcore in $build" >&2; exit 1; }
for tool in sox flac oggenc oggdec; do
    command -v "$tool" >/dev/null || { echo "$tool is needed (Debian: sox flac vorbis-tools)" >&2; exit 1; }
done

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT INT TERM
# Plucked tones over pink noise with a 2 Hz tremolo: tonal, noisy and pulsed.
sox -n -r 44100 -c 2 -b 16 "$dir/song.wav" synth 240 pluck 220 pluck 330 synth 240 pinknoise mix \
    tremolo 2 80 vol 0.5 2>/dev/null
flac -s -5 -o "$dir/f.flac" "$dir/song.wav"
oggenc -Q -q 4 -o "$dir/f.ogg" "$dir/song.wav"

. "$(dirname "$0")/lib.sh"

# Peers write their WAVE output to /dev/null (hyperfine discards stdout).
flac_peer=$(timed flac -s -d -c "$dir/f.flac")
ogg_peer=$(timed oggdec -Q -o /dev/null "$dir/f.ogg")
flac_validate=$(timed "$vexcore" validate "$dir/f.flac" "$dir/out")
expect_size "$dir/out" 17
ogg_validate=$(timed "$vexcore" validate "$dir/f.ogg" "$dir/out")
expect_size "$dir/out" 17

how=$(how_timed)
printf 'song: 240 s, 44100 Hz, stereo; FLAC -5 %s bytes, Vorbis q4 %s bytes (%s)\n' \
    "$(wc -c < "$dir/f.flac")" "$(wc -c < "$dir/f.ogg")" "$how"
row FLAC "vexcore validate" "$flac_validate" "flac -d" "$flac_peer"
row Vorbis "vexcore validate" "$ogg_validate" "oggdec" "$ogg_peer"
if [ -x "$vextool" ]; then
    flac_load=$(timed "$vextool" decode "$dir/f.flac" /dev/null)
    ogg_load=$(timed "$vextool" decode "$dir/f.ogg" /dev/null)
    row FLAC "vextool decode (load only)" "$flac_load" "flac -d" "$flac_peer"
    row Vorbis "vextool decode (load only)" "$ogg_load" "oggdec" "$ogg_peer"
fi
if [ -x "$build/bench/readers_bench" ]; then
    VEX_BENCH_FLAC="$dir/f.flac" VEX_BENCH_OGG="$dir/f.ogg" "$build/bench/readers_bench"
fi
