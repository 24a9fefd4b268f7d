#!/bin/sh
# Runs validate, fp and analyze with two builds on the same files and compares
# the records byte for byte (and the exit statuses).
#
#   tools/compare_records.sh [--generated] [--ogg-slack N] REF_BUILD NEW_BUILD [AUDIO...]
#
# Without AUDIO it takes three songs of the music packages installed on this
# machine (Opus ones too, converted like the rest), or three synthesised
# songs, the same on every machine, when there are none or with --generated.
# Each is written as WAVE, mono 48 kHz WAVE, FLAC, Ogg Vorbis and MP3. For a
# record that differs it names the values that moved, with both values.
#
# --ogg-slack N: the two builds may decode an Ogg Vorbis file to PCM that
# differs by at most N per sample (the system's libvorbis, built for another
# floating-point unit, can round a sample the other way). The records of such
# a file are listed apart, with what moved; everything after the decoder is
# checked on the other formats. An Ogg file decoded alike must still give
# identical records. Exit status 1 when anything else differs.
set -eu

generated=0 slack=-1
while [ $# -gt 0 ]; do
    case $1 in
        --generated) generated=1; shift ;;
        --ogg-slack) slack=$2; shift 2 ;;
        *) break ;;
    esac
done
[ $# -ge 2 ] || { echo "usage: $0 [--generated] [--ogg-slack N] REF_BUILD NEW_BUILD [AUDIO...]" >&2; exit 2; }
ref=$1 new=$2
shift 2

work=$(mktemp -d "${TMPDIR:-/tmp}/vex-compare.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

if [ $# -eq 0 ]; then
    songs=""
    [ "$generated" -eq 1 ] || songs=$(find /usr/share/games /usr/share/scummvm \( -iname '*.ogg' -o -iname '*.mp3' -o -iname '*.opus' \) \
            -size +1500k 2>/dev/null | sort | head -n 3)
    if [ -z "$songs" ]; then
        # Tonal over noise with a tremolo; bass under clicks at 150 bpm; a
        # sweep over a square wave: three different shapes for every step.
        sox -R -n -r 44100 -c 2 -b 16 "$work/synth1.wav" synth 90 pluck 220 pluck 330 synth 90 pinknoise \
            mix tremolo 2 80 vol 0.5 2>/dev/null
        sox -R -n -r 44100 -c 2 -b 16 "$work/tones.wav" synth 60 sine 55 sine 330 vol 0.3 2>/dev/null
        sox -R -n -r 44100 -c 2 -b 16 "$work/clicks.wav" synth 0.01 whitenoise vol 0.5 pad 0 0.39 repeat 149 2>/dev/null
        sox -R -m "$work/tones.wav" "$work/clicks.wav" "$work/synth2.wav"
        sox -R -n -r 44100 -c 2 -b 16 "$work/synth3.wav" synth 75 sine 100-2000 square 110 tremolo 3 60 vol 0.4 2>/dev/null
        rm "$work/tones.wav" "$work/clicks.wav"
        songs="$work/synth1.wav $work/synth2.wav $work/synth3.wav"
    fi
    i=0
    for s in $songs; do
        i=$((i + 1))
        # Canonical WAVE (no LIST chunk): the only layout the reader takes.
        ffmpeg -v error -y -i "$s" -map_metadata -1 -fflags +bitexact -flags:a +bitexact -c:a pcm_s16le "$work/song$i.wav"
        ffmpeg -v error -i "$work/song$i.wav" -map_metadata -1 -fflags +bitexact -flags:a +bitexact -ac 1 -ar 48000 -c:a pcm_s16le "$work/song$i-mono48k.wav"
        flac -s -o "$work/song$i.flac" "$work/song$i.wav"
        oggenc -Q -q 4 -o "$work/song$i.ogg" "$work/song$i.wav"
        lame --quiet -V 4 "$work/song$i.wav" "$work/song$i.mp3"
    done
    set -- "$work"/song*.wav "$work"/song*.flac "$work"/song*.ogg "$work"/song*.mp3
fi

# moved REF NEW: the values of two records of the same kind that differ, one
# per line as "index ref new", and the largest difference as the last line.
moved() {
    python3 - "$1" "$2" <<'PY'
import struct, sys
a, b = (open(p, 'rb').read() for p in sys.argv[1:3])
# Sizes or a print's semitone bytes that differ: no value comparison applies.
if len(a) != len(b) or len(a) == 565 and a[561:] != b[561:]:
    print('layout', 0, 0); print(1 << 20); sys.exit()
n = 280 if len(a) == 565 else (len(a) - 1) // 2
x, y = (struct.unpack(f'>{n}h', r[1:1 + 2 * n]) for r in (a, b))
d = [(i, u, v) for i, (u, v) in enumerate(zip(x, y)) if u != v]
for i, u, v in d: print(i, u, v)
print(max((abs(u - v) for _, u, v in d), default=0))
PY
}

differ=0 same=0 decoder=0
for audio in "$@"; do
    name=$(basename "$audio")
    pcm_differs=0
    case $name in
        *.ogg|*.OGG)
            if [ "$slack" -ge 0 ]; then
                "$ref/vextool" decode "$audio" "$work/ref.wav" >/dev/null 2>&1 || true
                "$new/vextool" decode "$audio" "$work/new.wav" >/dev/null 2>&1 || true
                if ! cmp -s "$work/ref.wav" "$work/new.wav"; then
                    pcm_differs=1
                    largest=$(python3 - "$work/ref.wav" "$work/new.wav" <<'PY'
import array, sys
a, b = (array.array('h', open(p, 'rb').read()[44:]) for p in sys.argv[1:3])
print(1 << 20 if len(a) != len(b) else max(abs(x - y) for x, y in zip(a, b)))
PY
)
                    if [ "$largest" -gt "$slack" ]; then
                        echo "DIFFERENT decode $name: samples differ by up to $largest"
                        differ=$((differ + 1))
                    fi
                fi
                rm -f "$work/ref.wav" "$work/new.wav"
            fi ;;
    esac
    for command in validate fp analyze; do
        rm -f "$work/ref.out" "$work/new.out"
        rs=0; ns=0
        "$ref/vexcore" "$command" "$audio" "$work/ref.out" >/dev/null 2>&1 || rs=$?
        "$new/vexcore" "$command" "$audio" "$work/new.out" >/dev/null 2>&1 || ns=$?
        if [ "$rs" -ne "$ns" ]; then
            echo "DIFFERENT $command $name: status $rs vs $ns"; differ=$((differ + 1)); continue
        fi
        if [ ! -f "$work/ref.out" ] && [ ! -f "$work/new.out" ]; then
            echo "same      $command $name (status $rs, no record)"; same=$((same + 1)); continue
        fi
        if cmp -s "$work/ref.out" "$work/new.out"; then
            echo "same      $command $name"; same=$((same + 1)); continue
        fi
        moved "$work/ref.out" "$work/new.out" > "$work/moved"
        largest=$(tail -n 1 "$work/moved")
        values=$(sed '$d' "$work/moved" | awk '{ printf "%s%s: %s -> %s", sep, $1, $2, $3; sep = ", " }')
        if [ "$pcm_differs" -eq 1 ]; then
            echo "DECODER   $command $name (decoded PCM differs; largest move $largest): $values"
            decoder=$((decoder + 1))
        else
            echo "DIFFERENT $command $name: $values"
            differ=$((differ + 1))
        fi
    done
done
echo "$same same, $differ different, $decoder moved by the system decoder's PCM"
[ "$differ" -eq 0 ]
