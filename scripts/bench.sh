#!/usr/bin/env bash
# Runs every benchmark and prints each figure as
#   BENCH <figure-name> <value> <target>
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

qvx_install_deps
qvx_build native
qvx_build win32

found=0
for b in "$QVX_BUILD"/native/bench/bench_*; do
    [ -x "$b" ] || continue
    found=1
    "$b"
done
shopt -s nullglob
win_benches=("$QVX_BUILD"/win32/bench/bench_*.exe)
if [ "${#win_benches[@]}" -gt 0 ]; then
    found=1
    qvx_wine_start
    trap qvx_wine_stop EXIT
    for b in "${win_benches[@]}"; do
        (cd "$(dirname "$b")" && "$QVX_WINE" "./$(basename "$b")" </dev/null)
    done
fi
[ "$found" -eq 1 ] || qvx_say "no benchmarks are built yet"
