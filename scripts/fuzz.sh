#!/usr/bin/env bash
# Runs every fuzz target for longer than the test command does:
#   bash scripts/fuzz.sh [seconds per target, default 600]
# Each target starts from its seed corpus (tests/fuzz/corpus/<target>); a
# finding fails the run and is saved in build/fuzz/tests/fuzz/work/<target>/artifacts.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

seconds="${1:-600}"
case "$seconds" in
'' | *[!0-9]*) echo "usage: $0 [seconds per target]" >&2; exit 2 ;;
esac

qvx_install_deps
qvx_build_fuzz
qvx_say "fuzz targets, $seconds s each"
qvx_run_fuzz "$seconds"
