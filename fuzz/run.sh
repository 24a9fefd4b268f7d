#!/bin/sh
# Runs the MPEG audio fuzzer for FUZZ_SECONDS seconds (default 20) from a seed
# corpus made here: a few short encoder-made files (when lame is installed)
# and hand-made frames. BUILD is the fuzz build directory. Crash inputs are
# kept as $BUILD/fuzz/crash-*; the exit status is non-zero on a finding.
set -eu

BUILD=${BUILD:-build-fuzz}
FUZZ_SECONDS=${FUZZ_SECONDS:-20}
FUZZER=$BUILD/fuzz/mp3_fuzz
if [ ! -x "$FUZZER" ]; then
    echo "fuzz/run.sh: $FUZZER is not built (configure with -DVEX_FUZZ=ON using clang)" >&2
    exit 2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/vex-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
mkdir "$work/corpus" "$work/seeds"

# Hand-made seeds: silent frames of several kinds, a tag, junk.
frame() {  # header bytes as octal escapes, frame length, file
    printf "$1" > "$3"
    head -c $(($2 - 4)) /dev/zero >> "$3"
}
frame '\377\373\220\304' 417 "$work/seeds/l3-mono-44k"
frame '\377\373\220\104' 417 "$work/seeds/l3-joint-44k"
frame '\377\363\200\300' 208 "$work/seeds/l3-mono-22k"
frame '\377\375\124\300' 192 "$work/seeds/l2-mono-48k"
frame '\377\377\120\300' 96 "$work/seeds/l1-mono-44k"
{ printf 'ID3\003\000\000\000\000\000\040'; head -c 32 /dev/zero; cat "$work/seeds/l3-mono-44k"; } > "$work/seeds/id3v2"

if command -v lame >/dev/null 2>&1; then
    i=0
    for settings in "44100 2 -b 128 -m j" "44100 1 -b 32 -m m" "48000 2 -V 6 -m s" "32000 2 -b 64 -m j" \
                "22050 2 -b 32 -m j" "24000 1 -V 8 -m m" "16000 1 -b 8 -m m"; do
        set -- $settings
        rate=$1; ch=$2; shift 2
        # Deterministic "noise": bytes of the fuzzer binary as raw PCM, 1/16 s
        # (a few frames: seeds of about 2 KiB at most, so the fuzzer starts short).
        head -c $((rate * ch / 8)) "$FUZZER" > "$work/pcm.raw"
        lame --quiet -r -s "$(echo "$rate" | sed 's/\(..\)\(...\)$/\1.\2/')" --bitwidth 16 --signed \
            --little-endian "$@" "$work/pcm.raw" "$work/seeds/lame-$i.mp3" || true
        i=$((i + 1))
    done
fi

# Inputs of up to 4 KiB hold two of the longest frames (1732 bytes) with room
# to spare; longer ones only repeat frames and cost time in proportion.
# AddressSanitizer keeps freed memory out of reuse for 256 MB by default,
# most of the fuzzer's resident memory; one execution of such an input frees
# at most about 1 MB, so 16 MB still catches a use after free within the
# current execution and the fifteen before it.
export ASAN_OPTIONS="${ASAN_OPTIONS:-quarantine_size_mb=16}"
status=0
"$FUZZER" -max_len=4096 -max_total_time="$FUZZ_SECONDS" -print_final_stats=1 \
    -artifact_prefix="$BUILD/fuzz/" "$work/corpus" "$work/seeds" || status=$?
if [ "$status" -ne 0 ]; then
    echo "fuzz/run.sh: the fuzzer reported a finding (status $status); see $BUILD/fuzz/" >&2
fi
exit "$status"
