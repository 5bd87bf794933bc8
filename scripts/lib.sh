# Shared steps of the scripts in this folder; sourced, not run.
# Every step is safe to repeat: installs only what is missing, builds
# incrementally, reuses the Wine prefix inside the build folder.

QVX_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
QVX_BUILD="${QVX_BUILD:-$QVX_ROOT/build}"

qvx_say() { printf '== %s\n' "$*" >&2; }

qvx_as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Debian packages the build, the tests and the demo need.
QVX_PACKAGES=(cmake ninja-build g++ make googletest g++-mingw-w64-i686 mingw-w64-i686-dev
              wine wine32:i386 xvfb xauth x11-utils imagemagick gcc-multilib procps
              clang-14 libclang-rt-14-dev)

qvx_install_deps() {
    local missing=() pkg
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        qvx_say "adding the i386 architecture"
        qvx_as_root dpkg --add-architecture i386
        missing+=(refresh)
    fi
    for pkg in "${QVX_PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    [ "${#missing[@]}" -eq 0 ] && return 0
    qvx_say "installing: ${missing[*]}"
    # A mirror that is being synced can fail one index for a while; try a few
    # times, then go on with the indexes there are: the install below fails
    # for real if a package cannot be had.
    local try
    for try in 1 2 3; do
        qvx_as_root apt-get update -qq && break
        qvx_say "the package indexes did not all update (try $try of 3)"
        [ "$try" -lt 3 ] && sleep 20
    done
    local wanted=()
    for pkg in "${missing[@]}"; do [ "$pkg" = refresh ] || wanted+=("$pkg"); done
    [ "${#wanted[@]}" -gt 0 ] || return 0
    local install=(env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq
                   --no-install-recommends)
    qvx_as_root "${install[@]}" "${wanted[@]}" >/dev/null && return 0
    # The i386 libraries must match the installed amd64 ones version for
    # version; when one architecture's index of the security suite is behind
    # the other's, only the release's own versions match on both: take those.
    local release
    release="$(. /etc/os-release && echo "${VERSION_CODENAME:-}")"
    [ -n "$release" ] || return 1
    qvx_say "installing again with the versions of the $release release itself"
    qvx_as_root "${install[@]}" -t "$release" "${wanted[@]}" >/dev/null
}

qvx_configure() { # tree: native | win32 | fuzz | tsan
    local tree="$1" dir="$QVX_BUILD/$1"
    local args=(-S "$QVX_ROOT" -B "$dir" -G Ninja)
    if [ "$tree" = win32 ]; then
        args+=(-DCMAKE_BUILD_TYPE=Release
               -DCMAKE_TOOLCHAIN_FILE="$QVX_ROOT/cmake/toolchain-i686-w64-mingw32.cmake")
    elif [ "$tree" = fuzz ]; then
        # libFuzzer comes with clang only; Debian names it with its version.
        local cxx cc
        cxx="$(command -v clang++ || command -v clang++-14)"
        cc="$(command -v clang || command -v clang-14)"
        # Optimised as libFuzzer wants it: unoptimised code would spend the run
        # in the standard library's instrumented templates.
        args+=(-DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1"
               -DCMAKE_C_FLAGS_DEBUG="-g -O1" -DCMAKE_CXX_COMPILER="$cxx"
               -DCMAKE_C_COMPILER="$cc" -DQVX_FUZZ=ON)
    elif [ "$tree" = tsan ]; then
        # ThreadSanitizer instead of AddressSanitizer (the two do not mix),
        # lightly optimised: the threaded suites run several times slower.
        args+=(-DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1"
               -DCMAKE_C_FLAGS_DEBUG="-g -O1" -DQVX_SANITIZE=OFF -DQVX_TSAN=ON)
    else
        args+=(-DCMAKE_BUILD_TYPE=Debug)
    fi
    cmake "${args[@]}" >"$QVX_BUILD/configure-$tree.log" 2>&1 ||
        { cat "$QVX_BUILD/configure-$tree.log"; return 1; }
}

qvx_build() { # tree [targets...]
    local tree="$1"; shift
    mkdir -p "$QVX_BUILD"
    qvx_say "building the $tree tree"
    qvx_configure "$tree"
    cmake --build "$QVX_BUILD/$tree" -- "$@"
}

# The fuzz tree builds only its targets: the core's test suite belongs to
# the native tree.
qvx_build_fuzz() {
    qvx_build fuzz fuzz_targets
}

# The ThreadSanitizer tree builds only the suites of the code that runs
# threads (port lists, the POSIX link, the simulator), with what they run.
qvx_build_tsan() {
    qvx_build tsan tsan_tests
}

# Runs them; any report of ThreadSanitizer fails its test (its exit status).
qvx_run_tsan() { # [ctest arguments...]
    (cd "$QVX_BUILD/tsan" &&
        TSAN_OPTIONS="${TSAN_OPTIONS:-second_deadlock_stack=1}" \
            ctest -L tsan --output-on-failure "$@")
}

# Runs every fuzz target for the given seconds each (ctest in the fuzz tree);
# prints each target's executions; fails on any finding.
qvx_run_fuzz() { # seconds [ctest arguments...]
    local seconds="$1" status=0 log; shift
    (cd "$QVX_BUILD/fuzz" &&
        QVX_FUZZ_SECONDS="$seconds" ctest -L fuzz --output-on-failure \
            --timeout "$((seconds + 300))" "$@") || status=$?
    for log in "$QVX_BUILD"/fuzz/tests/fuzz/work/*/log.txt; do
        [ -f "$log" ] || continue
        printf '%-16s %s\n' "$(basename "$(dirname "$log")")" \
            "$(grep -h '^stat::number_of_executed_units' "$log" || echo 'no stats')" >&2
    done
    return "$status"
}

qvx_find_wine() {
    QVX_WINE="$(command -v wine || command -v wine-stable || echo /usr/lib/wine/wine)"
    QVX_WINESERVER="$(command -v wineserver || command -v wineserver-stable ||
                      echo /usr/lib/wine/wineserver)"
}

# Wine runs the 32-bit Windows programs through its 32-bit loader, an i386
# Linux program. A kernel (or sandbox) that does not execute 32-bit x86
# programs refuses it with "Exec format error" (status 126), and then nothing
# of the Windows side can run on this machine at all.
qvx_can_run_wine() {
    qvx_find_wine
    local loader
    for loader in /usr/lib/wine/wine /usr/lib/i386-linux-gnu/wine/wine "$QVX_WINE"; do
        [ -x "$loader" ] || continue
        local status=0
        "$loader" --version </dev/null >/dev/null 2>&1 || status=$?
        [ "$status" -ne 126 ] && return 0
        qvx_say "this machine cannot execute 32-bit x86 programs: $loader fails with status 126 (Exec format error)"
        return 1
    done
    return 0
}

# A 32-bit prefix of our own inside the build folder, never the user's.
qvx_wine_env() {
    qvx_find_wine
    export WINEPREFIX="$QVX_BUILD/wineprefix" WINEARCH=win32 WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        qvx_say "creating the Wine prefix $WINEPREFIX"
        rm -rf "$WINEPREFIX"
        "$QVX_WINE" wineboot -u </dev/null >/dev/null 2>&1 || true
        "$QVX_WINESERVER" -w
    fi
}

# The COM-port fixture: an echoing device on a pseudo-terminal that Wine maps
# to COM5, and the preload library that lets Wine's serial code work on a pty.
QVX_COM_PORT=COM5

qvx_build_pty_fixture() {
    local out="$QVX_BUILD/ptyfixture" src="$QVX_ROOT/tools/ptyfixture"
    mkdir -p "$out/lib/i386-linux-gnu" "$out/lib/x86_64-linux-gnu"
    gcc -m32 -shared -fPIC -O2 -Wall -Wextra "$src/fake_modem.c" -ldl \
        -o "$out/lib/i386-linux-gnu/qvx_fake_modem.so"
    gcc -shared -fPIC -O2 -Wall -Wextra "$src/fake_modem.c" -ldl \
        -o "$out/lib/x86_64-linux-gnu/qvx_fake_modem.so"
    g++ -O2 -Wall -Wextra "$src/pty_device.cpp" -o "$out/pty_device"
}

# Starts the device and sets the environment the Wine processes need; call it
# before qvx_wine_start.
qvx_com_fixture_start() {
    local out="$QVX_BUILD/ptyfixture" i
    "$out/pty_device" "$out/com5" echo >"$out/device.log" 2>&1 &
    QVX_PTY_PID=$!
    for i in $(seq 50); do
        grep -q '^ready' "$out/device.log" 2>/dev/null && break
        sleep 0.1
    done
    export LD_PRELOAD="$out/\$LIB/qvx_fake_modem.so"
    export QVX_TEST_COM_PORT="$QVX_COM_PORT" QVX_TEST_COM_LINK="$out/com5"
}

qvx_com_fixture_stop() {
    if [ -n "${QVX_PTY_PID:-}" ]; then
        kill "$QVX_PTY_PID" 2>/dev/null || true
        wait "$QVX_PTY_PID" 2>/dev/null || true
    fi
}

# One wineserver for the whole run. Wine's background processes are started
# here, with their output sent away, so that they never hold a pipe of ctest.
qvx_wine_start() {
    qvx_wine_env
    if [ -n "${QVX_TEST_COM_LINK:-}" ]; then
        # Wine lists the port in SERIALCOMM and maps it to the pty's link.
        "$QVX_WINE" reg add 'HKLM\Software\Wine\Ports' /v "$QVX_TEST_COM_PORT" /t REG_SZ \
            /d "$QVX_TEST_COM_LINK" /f </dev/null >/dev/null 2>&1 || true
        "$QVX_WINESERVER" -k 2>/dev/null || true
        "$QVX_WINESERVER" -w 2>/dev/null || true
    fi
    # Any Wine command (a `wine reg` a moment ago) leaves a server running for
    # a few seconds, which a persistent one cannot replace; and a server keeps
    # the display its first process found. Wait for it to go first.
    "$QVX_WINESERVER" -w 2>/dev/null || true
    "$QVX_WINESERVER" -p
    "$QVX_WINE" cmd /c exit </dev/null >/dev/null 2>&1 || true
}

qvx_wine_stop() {
    [ -n "${WINEPREFIX:-}" ] && "$QVX_WINESERVER" -k 2>/dev/null || true
}

# Runs one benchmark in its own folder (through a runner such as Wine);
# its output also goes to $QVX_BENCH_RESULTS, its name to
# $QVX_BENCH_FAILURES when it fails.
qvx_run_bench() { # program [runner...]
    local b="$1"; shift
    qvx_say "$(basename "$b")"
    if ! (cd "$(dirname "$b")" && "$@" "./$(basename "$b")" </dev/null) |
        tee -a "$QVX_BENCH_RESULTS"; then
        echo "$(basename "$b")" >>"$QVX_BENCH_FAILURES"
    fi
}

# Waits (at most `seconds`) for a top-level window whose name holds `title`
# on the current display.
qvx_wait_window() { # title seconds
    local i
    for i in $(seq "$(( $2 * 5 ))"); do
        xwininfo -root -tree 2>/dev/null | grep -qF "$1" && return 0
        sleep 0.2
    done
    return 1
}

# A screenshot shows a window when it holds many colours and the screen's
# background colour does not fill it.
qvx_check_screenshot() { # png
    local png="$1" colours share
    [ -s "$png" ] || { qvx_say "no screenshot at $png"; return 1; }
    colours=$(/usr/bin/convert "$png" -format '%k' info:)
    share=$(/usr/bin/convert "$png" -format '%c' histogram:info:- |
        awk '{ n = $1 + 0; total += n; if (n > top) top = n } END { printf "%d", 100 * top / total }')
    if [ "$colours" -lt 16 ] || [ "$share" -gt 90 ]; then
        qvx_say "the screenshot $png shows no window ($colours colours, $share% one colour)"
        return 1
    fi
}

# Runs "$@" with an X display: the current one, or a private Xvfb.
qvx_with_display() {
    if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
        "$@"
    else
        xvfb-run -a -s "-screen 0 1280x1024x24" "$@"
    fi
}
