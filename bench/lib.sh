# Shared by the bench scripts (sourced, not run): timing helpers and the
# ratio arithmetic, in POSIX sh and awk. Callers set `runs` and `dir`.

# Best wall time of `runs` runs of a command, in seconds; exits on failure.
best() {
    b=""
    i=0
    while [ "$i" -lt "$runs" ]; do
        t0=$(date +%s.%N)
        "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
        t1=$(date +%s.%N)
        b=$(awk -v b="$b" -v t0="$t0" -v t1="$t1" \
            'BEGIN { t = t1 - t0; if (b == "" || t < b) printf "%.6f", t; else print b }')
        i=$((i + 1))
    done
    echo "$b"
}

# With hyperfine, its mean over `runs` runs after one warm-up; otherwise best.
timed() {
    if command -v hyperfine >/dev/null; then
        hyperfine -N --warmup 1 --runs "$runs" --export-csv "$dir/h.csv" "$*" >/dev/null 2>&1 ||
            { echo "failed: $*" >&2; exit 1; }
        tail -n 1 "$dir/h.csv" | awk -F, '{ print $2 }'
    else
        best "$@"
    fi
}

how_timed() {
    if command -v hyperfine >/dev/null; then echo "hyperfine mean of $runs runs"; else echo "best of $runs runs"; fi
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

# One comparison line: label, our command, our seconds, peer command, peer seconds.
row() {
    printf '%-7s %-30s %8.3f s   %-34s %8.3f s   ratio %s\n' "$1" "$2" "$3" "$4" "$5" "$(ratio "$3" "$5")"
}

# Fails unless the record file has the expected size.
expect_size() {
    [ "$(wc -c < "$1")" -eq "$2" ] || { echo "$1 is not a $2-byte record" >&2; exit 1; }
}
