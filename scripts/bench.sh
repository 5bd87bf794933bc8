#!/usr/bin/env bash
# Runs every benchmark, printing each figure as it comes as
#   BENCH <figure-name> <value> <target>
# ("-" for a figure that only informs), and ends with one table of the
# figures that have a target: value, target and their ratio (value/target,
# to be at most 1 for a "<=" or bare target and at least 1 for ">="; for a
# target of 0, pass or fail). Fails when a benchmark fails.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

qvx_install_deps
qvx_build native
qvx_build win32

results="$QVX_BUILD/bench-results.txt"
failures="$QVX_BUILD/bench-failures.txt"
: >"$results"
: >"$failures"

export QVX_BENCH_RESULTS="$results" QVX_BENCH_FAILURES="$failures"

found=0
for b in "$QVX_BUILD"/native/bench/bench_*; do
    [ -x "$b" ] || continue
    found=1
    qvx_run_bench "$b"
done
shopt -s nullglob
win_benches=("$QVX_BUILD"/win32/bench/bench_*.exe)
if [ "${#win_benches[@]}" -gt 0 ] && ! qvx_can_run_wine; then
    qvx_say "SKIPPED: the Windows benchmarks (Wine cannot run here)"
    win_benches=()
fi
if [ "${#win_benches[@]}" -gt 0 ]; then
    found=1
    # The soak and idle benchmarks drive the real window: they need a display.
    qvx_with_display bash -c '
        set -euo pipefail
        source "'"$QVX_ROOT"'/scripts/lib.sh"
        qvx_wine_start
        trap qvx_wine_stop EXIT
        for b in "$@"; do qvx_run_bench "$b" "$QVX_WINE"; done
    ' bench "${win_benches[@]}"
fi
[ "$found" -eq 1 ] || { qvx_say "no benchmarks are built yet"; exit 0; }

echo
awk '
    { sub(/\r$/, "") } # the Windows programs end their lines with CR LF
    $1 == "BENCH" && NF >= 4 && $4 != "-" {
        target = $4
        op = substr(target, 1, 2)
        if (op == "<=" || op == ">=")
            target = substr(target, 3)
        else
            op = "<="
        if (target + 0 == 0)
            ratio = ((op == "<=") ? ($3 + 0 <= 0) : ($3 + 0 >= 0)) ? "pass" : "fail"
        else
            ratio = sprintf("%.3f", $3 / target)
        rows[++n] = sprintf("%-30s %12s %8s %8s", $2, $3, $4, ratio)
    }
    END {
        printf "%-30s %12s %8s %8s\n", "figure", "value", "target", "ratio"
        for (i = 1; i <= n; ++i) print rows[i]
    }' "$results"
if [ -s "$failures" ]; then
    qvx_say "failed: $(tr '\n' ' ' <"$failures")"
    exit 1
fi
