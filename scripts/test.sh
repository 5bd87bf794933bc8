#!/usr/bin/env bash
# Runs every test: the portable core's suite (native, with AddressSanitizer
# and UndefinedBehaviorSanitizer), the suites of the threaded code under
# ThreadSanitizer, the fuzz targets of the byte parsers (30 s
# each) and the Windows suite under Wine and Xvfb.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

qvx_install_deps
qvx_build native
qvx_build win32
qvx_build_pty_fixture

qvx_say "native suite"
(cd "$QVX_BUILD/native" && ctest --output-on-failure -j2)

qvx_build_tsan
qvx_say "threaded code under ThreadSanitizer"
qvx_run_tsan

qvx_build_fuzz
qvx_say "fuzz targets, 30 s each"
qvx_run_fuzz 30

# The manifests are read out of the built programs without running them
# (also where Wine cannot run, and ctest cannot list the Windows suite).
qvx_say "the programs' manifests"
"$QVX_BUILD/win32/tests/win32/check_manifest.host" "$QVX_BUILD/win32/Configurator.exe" \
    requireAdministrator
"$QVX_BUILD/win32/tests/win32/check_manifest.host" "$QVX_BUILD/win32/qvx.exe" asInvoker

if ! qvx_can_run_wine; then
    # The Windows tree is built (above), so it still compiles without a
    # warning; its tests and the run command need Wine to run.
    qvx_say "SKIPPED: the Windows suite, the end-to-end tests and the run command (Wine cannot run here)"
    exit 0
fi

qvx_say "Windows suite (Wine)"
mkdir -p "$QVX_BUILD/win32/screenshots"
qvx_with_display bash -c '
    set -euo pipefail
    source "'"$QVX_ROOT"'/scripts/lib.sh"
    qvx_com_fixture_start
    qvx_wine_start
    trap "qvx_wine_stop; qvx_com_fixture_stop" EXIT
    cd "$QVX_BUILD/win32" && ctest --output-on-failure
'
qvx_say "screenshots of the window: $QVX_BUILD/win32/screenshots"

# The run command as a new user without a display meets it: it must end with
# status 0 and a screenshot that shows the window.
qvx_say "the run command, without a display"
env -u DISPLAY bash "$QVX_ROOT/scripts/run.sh"
qvx_check_screenshot "$QVX_BUILD/screenshots/configurator.png"
