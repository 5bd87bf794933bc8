#!/usr/bin/env bash
# Runs one fuzz target for QVX_FUZZ_SECONDS (default 30) on a fresh copy of its
# seed corpus; fails on any finding (crash, leak, UB report, broken invariant,
# timeout, out of memory). Findings are saved as <work>/artifacts/*.
#   run_fuzzer.sh <target binary> <seed corpus> <work folder>
set -euo pipefail
target="$1" seeds="$2" work="$3"
seconds="${QVX_FUZZ_SECONDS:-30}"
rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts"
cp -r "$seeds"/. "$work/corpus/"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"
status=0
"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" "$work/corpus" >"$work/log.txt" 2>&1 || status=$?
grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$work/log.txt" || true
if [ "$status" -ne 0 ] || ls "$work/artifacts" | grep -q .; then
    tail -n 60 "$work/log.txt"
    echo "finding(s) in $work/artifacts:" && ls -l "$work/artifacts"
    exit 1
fi
