#!/bin/sh
# Decodes the same MPEG audio inputs with the vextool of two builds and
# reports, input by input, whether the results are byte-identical: the WAVE
# output, the exit status and what the tool printed. Inputs are every vector
# in ../shared/conformance/mpeg-audio (when present) plus files made here with
# lame (when installed): CBR and VBR, mono, joint and plain stereo, at 22050,
# 32000, 44100 and 48000 Hz, some seconds long.
#
#   tools/compare_decodes.sh REF_BUILD NEW_BUILD [EXTRA.mp3 ...]
#
# Exit status: 0 when every input decodes identically, 1 otherwise, 2 on a
# usage error.
set -eu

usage() { echo "usage: tools/compare_decodes.sh REF_BUILD NEW_BUILD [EXTRA.mp3 ...]" >&2; exit 2; }
[ $# -ge 2 ] || usage
REF=$1/vextool
NEW=$2/vextool
shift 2
for tool in "$REF" "$NEW"; do
    [ -x "$tool" ] || { echo "compare_decodes.sh: $tool is not built" >&2; exit 2; }
done

here=$(cd "$(dirname "$0")" && pwd)
vectors=${VEX_CONFORMANCE_DIR:-$here/../../shared/conformance}/mpeg-audio
work=$(mktemp -d "${TMPDIR:-/tmp}/vex-compare.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
mkdir "$work/in"

# The reader is chosen by extension, so every input is linked as NAME.mp3.
if [ -d "$vectors" ]; then
    for f in "$vectors"/*.bit; do
        [ -e "$f" ] || continue
        ln -s "$f" "$work/in/$(basename "$f" .bit).mp3"
    done
else
    echo "compare_decodes.sh: no conformance vectors in $vectors" >&2
fi

if command -v lame >/dev/null 2>&1 && command -v sox >/dev/null 2>&1; then
    # rate channels seconds lame-options
    while read -r rate ch secs opts; do
        name=lame-$rate-$ch-$(echo "$opts" | tr -d ' -')
        # Sweeps under pink noise with a deep tremolo: attacks for short and
        # mixed blocks, a channel difference for mid/side.
        if [ "$ch" = 2 ]; then tones="sine 200-4000 sine 300-6000"; noise="pinknoise mix pinknoise mix"
        else tones="sine 200-4000"; noise="pinknoise mix"; fi
        # shellcheck disable=SC2086
        sox -R -n -r "$rate" -c "$ch" -b 16 "$work/src.wav" synth "$secs" $tones synth "$secs" $noise \
            tremolo 6 80 vol 0.5
        # shellcheck disable=SC2086
        lame --quiet $opts "$work/src.wav" "$work/in/$name.mp3"
    done <<EOF
44100 2 30 -b 128 -m j
44100 2 180 -V 2 -m j
44100 1 20 -b 96 -m m
48000 2 20 -V 4 -m s
48000 1 15 -b 160 -m m
32000 2 20 -b 64 -m j
32000 1 15 -V 6 -m m
22050 2 20 -V 5 -m j
22050 1 15 -b 32 -m m
24000 2 15 -b 48 -m j
16000 1 15 -V 7 -m m
EOF
else
    echo "compare_decodes.sh: lame or sox not installed; conformance vectors only" >&2
fi

i=0
for extra in "$@"; do
    i=$((i + 1))
    ln -s "$(cd "$(dirname "$extra")" && pwd)/$(basename "$extra")" "$work/in/extra-$i-$(basename "$extra" .mp3).mp3"
done

same=0
different=0
for f in "$work/in"/*.mp3; do
    name=$(basename "$f" .mp3)
    rs=0; ns=0
    "$REF" decode "$f" "$work/ref.wav" > "$work/ref.out" 2>&1 || rs=$?
    "$NEW" decode "$f" "$work/new.wav" > "$work/new.out" 2>&1 || ns=$?
    [ -e "$work/ref.wav" ] || : > "$work/ref.wav"
    [ -e "$work/new.wav" ] || : > "$work/new.wav"
    if [ "$rs" = "$ns" ] && cmp -s "$work/ref.out" "$work/new.out" && cmp -s "$work/ref.wav" "$work/new.wav"; then
        printf 'identical  %-45s %s\n' "$name" "$(if [ "$rs" = 0 ]; then wc -c < "$work/new.wav" | tr -d ' '; echo " bytes"; else echo "both fail: $(head -c 60 "$work/new.out")"; fi | tr '\n' ' ')"
        same=$((same + 1))
    else
        printf 'DIFFERENT  %-45s status %s/%s, %s\n' "$name" "$rs" "$ns" "$(cmp "$work/ref.wav" "$work/new.wav" 2>&1 | head -1)"
        different=$((different + 1))
    fi
    rm -f "$work/ref.wav" "$work/new.wav"
done
echo "$same identical, $different different"
[ "$different" -eq 0 ]
