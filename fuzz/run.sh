#!/bin/sh
# Runs libFuzzer targets one after another, each for FUZZ_SECONDS seconds
# (default 10), from seed corpora made here: short files from the encoders
# when installed (lame, flac, oggenc) and hand-made headers and records.
#
#   sh fuzz/run.sh [TARGET...]     # default: every target
#
# BUILD is the fuzz build directory. Findings (crash-*, leak-*, oom-*,
# timeout-*, slow-unit-*) are kept in $BUILD/fuzz/findings/TARGET/. With
# CORPUS set to a directory, each target's corpus is kept in CORPUS/TARGET
# and grows from run to run; otherwise it is thrown away. The exit status is
# non-zero when any target reported a finding; the others still run.
set -eu

BUILD=${BUILD:-build-fuzz}
FUZZ_SECONDS=${FUZZ_SECONDS:-10}
ALL="mp3_fuzz wave_fuzz flac_fuzz ogg_fuzz validate_fuzz record_fuzz"
[ $# -gt 0 ] || set -- $ALL
for t in "$@"; do
    if [ ! -x "$BUILD/fuzz/$t" ]; then
        echo "fuzz/run.sh: $BUILD/fuzz/$t is not built (configure with -DVEX_FUZZ=ON using clang)" >&2
        exit 2
    fi
done
targets=$*

work=$(mktemp -d "${TMPDIR:-/tmp}/vex-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
seeds=$work/seeds
mkdir -p "$seeds/mp3" "$seeds/wave" "$seeds/flac" "$seeds/ogg" "$seeds/record"
# Deterministic "noise": bytes of a fuzzer binary as raw PCM.
noise_source=$BUILD/fuzz/${targets%% *}
noise() { head -c "$1" "$noise_source"; }

# MPEG audio: silent frames of several kinds, a tag, encoder output.
frame() {  # header bytes as octal escapes, frame length, file
    printf "$1" > "$3"
    head -c $(($2 - 4)) /dev/zero >> "$3"
}
frame '\377\373\220\304' 417 "$seeds/mp3/l3-mono-44k"
frame '\377\373\220\104' 417 "$seeds/mp3/l3-joint-44k"
frame '\377\363\200\300' 208 "$seeds/mp3/l3-mono-22k"
frame '\377\375\124\300' 192 "$seeds/mp3/l2-mono-48k"
frame '\377\377\120\300' 96 "$seeds/mp3/l1-mono-44k"
{ printf 'ID3\003\000\000\000\000\000\040'; head -c 32 /dev/zero; cat "$seeds/mp3/l3-mono-44k"; } > "$seeds/mp3/id3v2"
if command -v lame >/dev/null 2>&1; then
    i=0
    for settings in "44100 2 -b 128 -m j" "44100 1 -b 32 -m m" "48000 2 -V 6 -m s" "32000 2 -b 64 -m j" \
                "22050 2 -b 32 -m j" "24000 1 -V 8 -m m" "16000 1 -b 8 -m m"; do
        set -- $settings
        rate=$1; ch=$2; shift 2
        # 1/16 s: a few frames, seeds of about 2 KiB at most.
        noise $((rate * ch / 8)) > "$work/pcm.raw"
        lame --quiet -r -s "$(echo "$rate" | sed 's/\(..\)\(...\)$/\1.\2/')" --bitwidth 16 --signed \
            --little-endian "$@" "$work/pcm.raw" "$seeds/mp3/lame-$i.mp3" || true
        i=$((i + 1))
    done
fi

# WAVE: canonical headers (little-endian fields written as octal escapes).
le32() { printf "\\$(printf %03o $(($1 & 255)))\\$(printf %03o $(($1 >> 8 & 255)))\\$(printf %03o $(($1 >> 16 & 255)))\\$(printf %03o $(($1 >> 24 & 255)))"; }
le16() { printf "\\$(printf %03o $(($1 & 255)))\\$(printf %03o $(($1 >> 8 & 255)))"; }
wave() {  # channels rate fmt-size data-bytes file
    { printf RIFF; le32 $((36 + $4)); printf 'WAVEfmt '; le32 "$3"; le16 1; le16 "$1"; le32 "$2"
      le32 $(($2 * $1 * 2)); le16 $(($1 * 2)); le16 16; head -c $(($3 - 16)) /dev/zero
      printf data; le32 "$4"; noise "$4"; } > "$5"
}
wave 2 44100 16 1024 "$seeds/wave/stereo"
wave 1 22050 16 512 "$seeds/wave/mono"
wave 2 48000 18 256 "$seeds/wave/fmt18"
wave 1 8000 16 0 "$seeds/wave/empty"

# FLAC and Ogg Vorbis: a few hundred frames of noise through the encoders;
# small FLAC blocks so that a seed holds several frames.
for shape in "44100 2" "22050 1" "48000 2"; do
    set -- $shape
    noise $(($1 / 40 * $2 * 2)) > "$work/pcm.raw"
    if command -v flac >/dev/null 2>&1; then
        flac -s -f --force-raw-format --endian=little --sign=signed --bps=16 --channels="$2" \
            --sample-rate="$1" --blocksize=192 -o "$seeds/flac/$1-$2.flac" "$work/pcm.raw" || true
    fi
    if command -v oggenc >/dev/null 2>&1; then
        oggenc -Q -r -B 16 -C "$2" -R "$1" -q 0 -o "$seeds/ogg/$1-$2.ogg" "$work/pcm.raw" || true
    fi
done
{ printf 'fLaC\200\000\000\042'; head -c 34 /dev/zero; } > "$seeds/flac/streaminfo-only"

# Records: analysis (71 bytes), print (565), validation (17), each with the
# version byte 1; and a modified UTF-8 string.
for n in 71 565 17; do { printf '\001'; noise $((n - 1)); } > "$seeds/record/r$n"; done
printf '\000\005a\303\251\355\237\277' > "$seeds/record/utf"

# The validate target takes the extension from its first byte.
mkdir "$seeds/validate"
for f in "$seeds"/wave/*; do { printf '\000'; cat "$f"; } > "$seeds/validate/wav-${f##*/}"; done
for f in "$seeds"/flac/*; do { printf '\001'; cat "$f"; } > "$seeds/validate/flac-${f##*/}"; done
for f in "$seeds"/ogg/*; do { printf '\002'; cat "$f"; } > "$seeds/validate/ogg-${f##*/}"; done
for f in "$seeds"/mp3/*; do { printf '\003'; cat "$f"; } > "$seeds/validate/mp3-${f##*/}"; done
# Bit 2 of the first byte: the print's load limit instead of none.
for f in mp3-lame-0.mp3:7 flac-44100-2.flac:5; do
    [ -f "$seeds/validate/${f%:*}" ] || continue
    { printf "\\00${f#*:}"; tail -c +2 "$seeds/validate/${f%:*}"; } > "$seeds/validate/limited-${f%:*}"
done
# Bit 3: the whole preparation rather than the counted duration, on mono
# seeds (the ones it resamples).
for f in wav-mono:010 flac-22050-1.flac:011 ogg-22050-1.ogg:012 mp3-lame-1.mp3:013; do
    [ -f "$seeds/validate/${f%:*}" ] || continue
    { printf "\\${f#*:}"; tail -c +2 "$seeds/validate/${f%:*}"; } > "$seeds/validate/prepared-${f%:*}"
done

# Bit 4: the load that mixes a stereo file down as it reads it.
{ printf '\020'; tail -c +2 "$seeds/validate/wav-stereo"; } > "$seeds/validate/mixed-wav-stereo"

# AddressSanitizer keeps freed memory out of reuse for 256 MB by default,
# most of a target's resident memory; one execution frees a few MB at most, so
# 16 MB still catches a use after free within the current execution and the
# ones just before it.
export ASAN_OPTIONS="${ASAN_OPTIONS:-quarantine_size_mb=16}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$(dirname "$0")/lsan.supp}"
status=0
for t in $targets; do
    case $t in
        mp3_fuzz) in=mp3; len=4096 ;;      # two of the longest frames with room to spare
        wave_fuzz) in=wave; len=4096 ;;
        flac_fuzz) in=flac; len=8192 ;;
        ogg_fuzz) in=ogg; len=8192 ;;      # the Vorbis set-up header alone takes about 4 KiB
        validate_fuzz) in=validate; len=4608 ;;  # an Ogg Vorbis seed (its set-up header) and room
        record_fuzz) in=record; len=2048 ;;
        *) echo "fuzz/run.sh: unknown target $t" >&2; exit 2 ;;
    esac
    corpus=${CORPUS:+$CORPUS/$t}
    corpus=${corpus:-$work/corpus-$t}
    findings=$BUILD/fuzz/findings/$t
    mkdir -p "$corpus" "$findings"
    echo "fuzz/run.sh: $t for $FUZZ_SECONDS s" >&2
    # The default memory limit (2 GB) also reports any single allocation
    # above it: a header that sizes the output must not get that far. Inputs
    # slower than 10 s are findings too.
    "$BUILD/fuzz/$t" -max_len="$len" -max_total_time="$FUZZ_SECONDS" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$findings/" "$corpus" "$seeds/$in" || {
        status=$?
        echo "fuzz/run.sh: $t reported a finding (status $status); see $findings/" >&2
    }
done
exit "$status"
