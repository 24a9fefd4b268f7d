#!/bin/sh
# Makes a 20-second stereo example (two tones and a click every half second),
# runs the worker's three commands on it and prints each record readably.
set -e
BUILD=${1:-build}
VEXCORE="$BUILD/vexcore"
VEXTOOL="$BUILD/vextool"
OUT=${DEMO_DIR:-$BUILD/demo}
mkdir -p "$OUT"

sox -q -n -r 44100 -c 2 -b 16 "$OUT/tones.wav" synth 20 sine 220 sine 330 vol 0.3
sox -q -n -r 44100 -c 2 -b 16 "$OUT/clicks.wav" synth 0.01 whitenoise vol 0.5 pad 0 0.49 repeat 39
sox -q -m "$OUT/tones.wav" "$OUT/clicks.wav" "$OUT/example.wav"
echo "Example: $OUT/example.wav (20 s, 44100 Hz, stereo)"

for command in validate fp analyze; do
    record="$OUT/$command.rec"
    rm -f "$record"
    echo
    echo "== vexcore $command"
    status=0
    "$VEXCORE" "$command" "$OUT/example.wav" "$record" || status=$?
    echo "vexcore $command: exit status $status"
    if [ -f "$record" ]; then
        "$VEXTOOL" dump "$record"
    else
        echo "(no record written)"
    fi
done

echo
echo "== what the analysis sees (vextool prep)"
"$VEXTOOL" prep "$OUT/example.wav" "$OUT/prepared.wav"
