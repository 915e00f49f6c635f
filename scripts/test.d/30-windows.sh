#!/usr/bin/env bash
# The Windows build: cross-built with mingw-w64, its test suite run under
# wine with a throwaway prefix and an Xvfb display for the dialog tests.
#
# Wine needs care here or a run can hang for good: a wineserver started on
# demand outlives each program and keeps ctest's pipes open. So a persistent
# wineserver is started first with its output away from our pipes, one
# program warms the prefix up, ctest always runs with a timeout, and the
# wineserver is ended (-k) on the way out, whatever happened.
set -euo pipefail
cd "$(dirname "$0")/../.."

bash scripts/install-deps.sh cmake ninja-build g++-mingw-w64-x86-64-posix googletest libcli11-dev \
    wine64 wine fonts-wine xvfb xauth

cmake --preset windows
cmake --build --preset windows -j 2

work="$(mktemp -d "${TMPDIR:-/tmp}/tessary-windows.XXXXXX")"
export WINEPREFIX="${work}/prefix"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml="
# Keeps wine from mapping the caller's home folders into the prefix.
export HOME="${work}/home"
mkdir -p "${WINEPREFIX}" "${HOME}"

xvfb_pid=""
cleanup() {
    timeout 30 wineserver -k >/dev/null 2>&1 || true
    if [ -n "${xvfb_pid}" ]; then
        kill "${xvfb_pid}" 2>/dev/null || true
        wait "${xvfb_pid}" 2>/dev/null || true
    fi
    rm -rf "${work}"
}
trap cleanup EXIT

# A display of our own for the dialog tests; -displayfd tells us which
# number it took once it is ready.
exec {display_fd}<> <(:)
Xvfb -displayfd "${display_fd}" -screen 0 1280x1024x24 -nolisten tcp >"${work}/xvfb.log" 2>&1 &
xvfb_pid=$!
read -r -t 30 -u "${display_fd}" display_number
exec {display_fd}>&-
export DISPLAY=":${display_number}"

timeout 60 wineserver -p </dev/null >/dev/null 2>&1
timeout 180 wine wineboot --init </dev/null >"${work}/wineboot.log" 2>&1
# Wine's own TrueType fonts (Tahoma for "MS Shell Dlg", Marlett for the
# caption buttons) are not found in its data folder from a fresh prefix.
cp /usr/share/wine/fonts/*.ttf "${WINEPREFIX}/drive_c/windows/Fonts/" 2>/dev/null || true
# Unmanaged, wine draws the window frame itself: with no window manager
# under Xvfb a managed window would have none.
timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
    </dev/null >/dev/null 2>&1
# Warm-up: one program that ends, so that the first test does not pay for
# the prefix's start.
timeout 60 wine cmd /c exit </dev/null >/dev/null 2>&1 || true

ctest --preset windows --timeout 120 --stop-on-failure
