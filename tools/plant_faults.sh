#!/usr/bin/env bash
# Plants one-line faults, one at a time, and records which tests catch each.
#
#   tools/plant_faults.sh SOURCE_TREE BUILD_DIR [FAULT...]   run the named faults (default: all)
#   tools/plant_faults.sh --list                             print the fault definitions
#   tools/plant_faults.sh --check SOURCE_TREE                check every fault still applies
#
# BUILD_DIR must already be configured from SOURCE_TREE (Release). For each
# fault the file is edited in SOURCE_TREE, BUILD_DIR rebuilt and the tests run;
# the file is then put back byte for byte. One line per fault on stdout:
#   fault-id: N tests fail: name1 name2 ...      (or: fault-id: NOT CAUGHT)
# Progress and timings go to stderr. Tests already failing on the clean tree
# are left out of every fault's list (and named once on stderr).
#
# Exit status: 0 when every fault could be planted and built, 1 when a fault
# definition is stale (its search text is not found exactly once) or its
# build fails -- neither is a catch -- and 2 on usage or tree errors.
#
# Do not point this at a tree other people are editing: the source files are
# changed in place while the faults run.
set -uo pipefail

# --- Fault definitions -------------------------------------------------------
# fault ID FILE SEARCH REPLACEMENT DESCRIPTION
# SEARCH must occur exactly once in FILE and may carry a neighbouring line
# when the changed line alone is not unique; the edit must change exactly one
# line. Keep SEARCH specific: a restructured file should make a fault fail to
# apply, not quietly move it somewhere else.
FAULT_IDS=()
declare -A FAULT_FILE FAULT_SEARCH FAULT_REPLACE FAULT_DESC
fault() {
    FAULT_IDS+=("$1")
    FAULT_FILE[$1]=$2
    FAULT_SEARCH[$1]=$3
    FAULT_REPLACE[$1]=$4
    FAULT_DESC[$1]=$5
}

fault resampler-phase dsp/Resampler.cpp \
    $'        const uint32_t phRight = ((time ^ kPmask) + 1) & kPmask;\n        const int16_t* wl = row(' \
    $'        const uint32_t phRight = (time ^ kPmask) & kPmask;\n        const int16_t* wl = row(' \
    "fast path: right-wing phase is (1 - frac) one step short (missing + 1 of the negation)"

fault rounding-half-up dsp/Rounding.h \
    '                     : -static_cast<double>(static_cast<int64_t>(0.5 - v));' \
    '                     : std::floor(v + 0.5);' \
    "roundHalfAway rounds negative halves up (-2.5 -> -2), as floor(v + 0.5) does"

fault huffman-row audio/mp3/MP3Tables.cpp \
    '    {6292, 8, 6, 16},  // 26' \
    '    {6292, 8, 7, 16},  // 26' \
    "Huffman table 26 carries linbits 7 instead of 6"

fault stereo-mix-swap dsp/SignalObj.cpp \
    'mixed[i] = static_cast<int16_t>(Difference ? (l - r) / 2 : (l + r) / 2);' \
    'mixed[i] = static_cast<int16_t>(Difference ? (l + r) / 2 : (l - r) / 2);' \
    "down-mix and difference mix swapped"

fault int-byte-order io/DataOutput.cpp \
    '    for (int shift = 24; shift >= 0; shift -= 8) write(static_cast<uint8_t>(u >> shift));' \
    '    for (int shift = 0; shift <= 24; shift += 8) write(static_cast<uint8_t>(u >> shift));' \
    "writeInt writes little-endian"

fault fft-bin-offset dsp/FFTObj.cpp \
    '    for (int32_t k = 1; k < half; ++k) im[k] = x[n - k];' \
    '    for (int32_t k = 1; k < half; ++k) im[k] = x[n - k - 1];' \
    "magnitudes take the imaginary part of the next bin"

fault tracker-tie dsp/FrameTracker.cpp \
    '        if (distance < bestDistance) {' \
    '        if (distance <= bestDistance) {' \
    "tracker links the upper of two equally near peaks"

fault slot-offset-sign analysis/SlotTable.cpp \
    '    {kFadeOutBars, "fade-out length", -17.5, 1872.4},' \
    '    {kFadeOutBars, "fade-out length", 17.5, 1872.4},' \
    "slot 14 (feature 9) offset +17.5 instead of -17.5"

fault lowpass-coefficient dsp/ButterFilter.cpp \
    '    SetCoefficients(a0, 2.0 * a0, a0, 2.0 * (1.0 - q * q) * a0, (1.0 - kSqrt2 * q + q * q) * a0);' \
    '    SetCoefficients(a0, 2.0 * a0, a0, 2.0 * (q * q - 1.0) * a0, (1.0 - kSqrt2 * q + q * q) * a0);' \
    "low-pass b1 copied from the high-pass: poles mirrored to the Nyquist side"

fault analysis-record-short io/PrintRecord.cpp \
    '    for (int i = 0; i < 35; ++i) out.writeShort(parameters[i]);' \
    '    for (int i = 0; i < 34; ++i) out.writeShort(parameters[i]);' \
    "analysis record writes 34 of its 35 values"

# --- Helpers -----------------------------------------------------------------
usage() {
    echo "usage: $0 SOURCE_TREE BUILD_DIR [FAULT...]" >&2
    echo "       $0 --list" >&2
    echo "       $0 --check SOURCE_TREE" >&2
    exit 2
}
log() { echo "[$(date +%H:%M:%S)] $*" >&2; }

# Replaces SEARCH by REPLACEMENT in FILE: SEARCH must occur exactly once and
# the result must differ from the original in exactly one line. Prints the
# changed line's number. NAME is the file as the messages call it.
apply_fault() {  # FILE SEARCH REPLACEMENT NAME
    SEARCH=$2 REPLACE=$3 python3 - "$1" "$4" <<'EOF'
import os, sys
path, name = sys.argv[1], sys.argv[2]
search, replace = os.environ["SEARCH"], os.environ["REPLACE"]
with open(path, "rb") as f:
    text = f.read().decode("utf-8")
count = text.count(search)
if count != 1:
    sys.exit(f"search text found {count} times in {name}")
changed = text.replace(search, replace, 1)
old, new = text.split("\n"), changed.split("\n")
diff = [i for i, (a, b) in enumerate(zip(old, new)) if a != b]
if len(old) != len(new) or len(diff) != 1:
    sys.exit(f"edit in {name} does not change exactly one line")
with open(path, "wb") as f:
    f.write(changed.encode("utf-8"))
print(diff[0] + 1)
EOF
}

if [[ ${1:-} == --list ]]; then
    for id in "${FAULT_IDS[@]}"; do printf '%-22s %-26s %s\n' "$id" "${FAULT_FILE[$id]}" "${FAULT_DESC[$id]}"; done
    exit 0
fi
# Applies every fault to a scratch copy of its file: a stale definition shows
# up here without a build.
if [[ ${1:-} == --check ]]; then
    [[ $# -eq 2 ]] || usage
    scratch=$(mktemp -d "${TMPDIR:-/tmp}/plant_faults.XXXXXX")
    trap 'rm -rf "$scratch"' EXIT
    bad=0
    for id in "${FAULT_IDS[@]}"; do
        cp "$2/${FAULT_FILE[$id]}" "$scratch/f" 2>/dev/null || { echo "$id: missing ${FAULT_FILE[$id]}"; bad=1; continue; }
        if line=$(apply_fault "$scratch/f" "${FAULT_SEARCH[$id]}" "${FAULT_REPLACE[$id]}" "${FAULT_FILE[$id]}" 2>&1); then
            echo "$id: applies at ${FAULT_FILE[$id]}:$line"
        else
            echo "$id: STALE DEFINITION: $line"
            bad=1
        fi
    done
    exit $bad
fi
[[ $# -ge 2 ]] || usage
SRC=$(cd "$1" 2>/dev/null && pwd) || { echo "no such source tree: $1" >&2; exit 2; }
BUILD=$(cd "$2" 2>/dev/null && pwd) || { echo "no such build directory: $2" >&2; exit 2; }
shift 2
[[ -f $BUILD/CMakeCache.txt ]] || { echo "$BUILD is not a configured build directory" >&2; exit 2; }
git -C "$SRC" rev-parse --is-inside-work-tree >/dev/null 2>&1 || { echo "$SRC is not a git work tree" >&2; exit 2; }
command -v python3 >/dev/null || { echo "python3 is needed for the edits" >&2; exit 2; }

SELECTED=("$@")
[[ ${#SELECTED[@]} -gt 0 ]] || SELECTED=("${FAULT_IDS[@]}")
for id in "${SELECTED[@]}"; do
    [[ -n ${FAULT_FILE[$id]+x} ]] || { echo "unknown fault: $id (see --list)" >&2; exit 2; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/plant_faults.XXXXXX")
# The file currently carrying a fault and its pristine copy; empty when none.
PLANTED=""
BACKUP=""

restore() {
    if [[ -n $PLANTED ]]; then
        # A plain copy: the restored file must be newer than the objects built
        # from the fault, or the next build would keep them.
        if ! cp "$BACKUP" "$PLANTED" || ! cmp -s "$BACKUP" "$PLANTED"; then
            echo "FATAL: could not restore $PLANTED; the original is in $BACKUP" >&2
            return 1
        fi
        PLANTED=""
    fi
}
# shellcheck disable=SC2317  # run from the trap
cleanup() {
    restore || { trap - EXIT; exit 3; }
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'echo "interrupted; restoring" >&2; exit 130' INT TERM HUP

# The tree is compared against git at the end; note how it starts.
STARTED_CLEAN=1
git -C "$SRC" diff --quiet || STARTED_CLEAN=0
git -C "$SRC" diff | sha256sum >"$WORK/diff-before"
[[ $STARTED_CLEAN == 1 ]] || log "warning: $SRC has uncommitted changes; they are kept, and faults apply on top"


build() { cmake --build "$BUILD" -j2 >"$1" 2>&1; }

# Runs the tests; prints the names of those that did not pass, one a line.
# ctest's own --timeout yields to a test's TIMEOUT property, so the whole run
# is bounded as well.
run_tests() {
    local out=$1
    timeout --kill-after=30 3600 ctest --test-dir "$BUILD" -j2 --timeout 120 >"$out" 2>&1
    python3 - "$out" <<'EOF'
import re, sys
failed = set()
for line in open(sys.argv[1], errors="replace"):
    m = re.match(r"\s*\d+/\d+ Test\s+#\d+: (\S+) (.*)", line)
    if m and not re.search(r"\bPassed\b|\bSkipped\b|Not Run \(Disabled\)", m.group(2)):
        failed.add(m.group(1))
print("\n".join(sorted(failed)))
EOF
}

# --- Baseline ------------------------------------------------------------------
t0=$SECONDS
log "baseline: building $BUILD"
build "$WORK/build-baseline.log" || { echo "the clean tree does not build; see $BUILD" >&2; tail -20 "$WORK/build-baseline.log" >&2; exit 2; }
log "baseline: running the tests"
BASELINE=$(run_tests "$WORK/ctest-baseline.log")
total=$(grep -Eo 'out of [0-9]+' "$WORK/ctest-baseline.log" | tail -1 | grep -Eo '[0-9]+' || echo "?")
if [[ -n $BASELINE ]]; then
    log "baseline: $(wc -l <<<"$BASELINE") of $total tests already fail and are left out: $(tr '\n' ' ' <<<"$BASELINE")"
else
    log "baseline: all $total tests pass ($((SECONDS - t0)) s)"
fi

# --- Faults ------------------------------------------------------------------
status=0
for id in "${SELECTED[@]}"; do
    t=$SECONDS
    file=$SRC/${FAULT_FILE[$id]}
    BACKUP=$WORK/$id.orig
    cp -p "$file" "$BACKUP" || { echo "$id: cannot read $file" >&2; exit 2; }
    PLANTED=$file
    if ! line=$(apply_fault "$file" "${FAULT_SEARCH[$id]}" "${FAULT_REPLACE[$id]}" "${FAULT_FILE[$id]}" 2>"$WORK/$id.apply"); then
        restore
        echo "$id: STALE DEFINITION: $(cat "$WORK/$id.apply")"
        log "$id: STALE: $(cat "$WORK/$id.apply")"
        status=1
        continue
    fi
    log "$id: planted at ${FAULT_FILE[$id]}:$line -- ${FAULT_DESC[$id]}"
    if ! build "$WORK/$id.build.log"; then
        restore
        echo "$id: BUILD FAILED (broken fault definition, not a catch)"
        log "$id: build failed:"; grep -m5 -E 'error' "$WORK/$id.build.log" >&2
        status=1
        continue
    fi
    tb=$((SECONDS - t))
    failing=$(run_tests "$WORK/$id.ctest.log")
    restore
    # Drop what already failed on the clean tree.
    if [[ -n $BASELINE && -n $failing ]]; then
        failing=$(comm -23 <(sort <<<"$failing") <(sort <<<"$BASELINE"))
    fi
    if [[ -z $failing ]]; then
        echo "$id: NOT CAUGHT"
    else
        echo "$id: $(wc -l <<<"$failing") tests fail: $(tr '\n' ' ' <<<"$failing" | sed 's/ $//')"
    fi
    log "$id: done in $((SECONDS - t)) s (build ${tb} s)"
done

# --- Leave the tree and the build as they were ---------------------------------
git -C "$SRC" diff | sha256sum >"$WORK/diff-after"
if [[ $STARTED_CLEAN == 1 ]]; then
    git -C "$SRC" diff --quiet || { echo "FATAL: $SRC differs from git after the run" >&2; git -C "$SRC" diff --stat >&2; exit 3; }
elif ! cmp -s "$WORK/diff-before" "$WORK/diff-after"; then
    echo "FATAL: the uncommitted changes in $SRC are not what they were before the run" >&2
    exit 3
fi
log "restoring the build of the clean tree"
build "$WORK/build-final.log" || { echo "warning: the final rebuild of the clean tree failed" >&2; status=1; }
log "all done in $((SECONDS - t0)) s"
exit $status
