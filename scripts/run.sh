#!/usr/bin/env bash
# Builds the Windows program and starts it under Wine with the simulated
# adapter as its device. Without a display it runs under Xvfb and saves a
# screenshot of the window instead.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

qvx_install_deps
qvx_build win32 Configurator demo
demo_dir="$QVX_BUILD/win32/demo"
if ! qvx_can_run_wine; then
    qvx_say "the program is built in $demo_dir, but Wine cannot start it on this machine"
    exit 1
fi

# The demo's simulated adapter is the USB device QV2A0017 (demo/mvd2xx.cfg);
# a first run selects it unless a port was chosen before.
qvx_demo_port() {
    qvx_wine_env
    if ! "$QVX_WINE" reg query 'HKLM\SOFTWARE\Morveklink' /v Port </dev/null >/dev/null 2>&1; then
        "$QVX_WINE" reg add 'HKLM\SOFTWARE\Morveklink' /v Port /t REG_SZ /d USB:QV2A0017 /f \
            </dev/null >/dev/null 2>&1 || true
    fi
}
qvx_demo_port

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    qvx_wine_env
    qvx_say "starting $demo_dir/Configurator.exe"
    cd "$demo_dir" && exec "$QVX_WINE" ./Configurator.exe "$@"
fi

shot="$QVX_BUILD/screenshots/configurator.png"
mkdir -p "$(dirname "$shot")"
rm -f "$shot"
qvx_say "no display: running under Xvfb"
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    set -euo pipefail
    source "'"$QVX_ROOT"'/scripts/lib.sh"
    qvx_wine_start
    trap qvx_wine_stop EXIT
    cd "'"$demo_dir"'"
    "$QVX_WINE" ./Configurator.exe "$@" </dev/null >/dev/null 2>&1 &
    if ! qvx_wait_window "Quorvelix Configurator" 90; then
        qvx_say "the window did not appear"
        exit 1
    fi
    sleep 2 # its first paint
    /usr/bin/import -window root "'"$shot"'"
' _ "$@"
qvx_check_screenshot "$shot"
qvx_say "screenshot of the window: $shot"
