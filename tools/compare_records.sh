#!/bin/sh
# Runs validate, fp and analyze with two builds on the same files and compares
# the records byte for byte (and the exit statuses).
#
#   tools/compare_records.sh REF_BUILD NEW_BUILD [AUDIO...]
#
# Without AUDIO it takes a few songs of the music packages installed on this
# machine (or synthesises one when there are none) and writes each as WAVE,
# FLAC, Ogg Vorbis and MP3. For an analysis record that differs it names the
# slots that moved, with both values. Exit status 1 when anything differs.
set -eu

[ $# -ge 2 ] || { echo "usage: $0 REF_BUILD NEW_BUILD [AUDIO...]" >&2; exit 2; }
ref=$1 new=$2
shift 2

work=$(mktemp -d "${TMPDIR:-/tmp}/vex-compare.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

if [ $# -eq 0 ]; then
    songs=$(find /usr/share/games /usr/share/scummvm \( -iname '*.ogg' -o -iname '*.mp3' \) \
            -size +1500k 2>/dev/null | sort | head -n 3)
    if [ -z "$songs" ]; then
        sox -n -r 44100 -c 2 "$work/synth.wav" synth 200 pluck C3 pluck E3 tremolo 4 40 >/dev/null 2>&1
        songs="$work/synth.wav"
    fi
    i=0
    for s in $songs; do
        i=$((i + 1))
        # Canonical WAVE (no LIST chunk): the only layout the reader takes.
        ffmpeg -v error -i "$s" -map_metadata -1 -fflags +bitexact -flags:a +bitexact -c:a pcm_s16le "$work/song$i.wav"
        ffmpeg -v error -i "$work/song$i.wav" -map_metadata -1 -fflags +bitexact -flags:a +bitexact -ac 1 -ar 48000 -c:a pcm_s16le "$work/song$i-mono48k.wav"
        flac -s -o "$work/song$i.flac" "$work/song$i.wav"
        oggenc -Q -q 4 -o "$work/song$i.ogg" "$work/song$i.wav"
        lame --quiet -V 4 "$work/song$i.wav" "$work/song$i.mp3"
    done
    set -- "$work"/song*.wav "$work"/song*.flac "$work"/song*.ogg "$work"/song*.mp3
fi

slots() { od -An -v -j1 -tx1 "$1" | tr -s ' \n' ' ' | sed 's/^ //'; }

differ=0 same=0
for audio in "$@"; do
    for command in validate fp analyze; do
        rm -f "$work/ref.out" "$work/new.out"
        rs=0; ns=0
        "$ref/vexcore" "$command" "$audio" "$work/ref.out" >/dev/null 2>&1 || rs=$?
        "$new/vexcore" "$command" "$audio" "$work/new.out" >/dev/null 2>&1 || ns=$?
        name=$(basename "$audio")
        if [ "$rs" -ne "$ns" ]; then
            echo "DIFFERENT $command $name: status $rs vs $ns"; differ=$((differ + 1)); continue
        fi
        if [ ! -f "$work/ref.out" ] && [ ! -f "$work/new.out" ]; then
            echo "same      $command $name (status $rs, no record)"; same=$((same + 1)); continue
        fi
        if cmp -s "$work/ref.out" "$work/new.out"; then
            echo "same      $command $name"; same=$((same + 1)); continue
        fi
        differ=$((differ + 1))
        if [ "$command" = analyze ]; then
            python3 - "$work/ref.out" "$work/new.out" "$name" <<'PY'
import struct, sys
a, b = (struct.unpack('>35h', open(p, 'rb').read()[1:]) for p in sys.argv[1:3])
moved = ', '.join(f'slot {i}: {x} -> {y}' for i, (x, y) in enumerate(zip(a, b)) if x != y)
print(f'DIFFERENT analyze {sys.argv[3]}: {moved}')
PY
        else
            echo "DIFFERENT $command $name"
        fi
    done
done
echo "$same same, $differ different"
[ "$differ" -eq 0 ]
