#!/usr/bin/env bash
# Runs tessary.exe under wine on an Xvfb display, converts the bundled
# samples through its real dialogs (the open dialog, then the folder browser,
# whose first choice is the desktop of a throwaway prefix) and saves the
# window as docs/screenshot-windows.png.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh cmake ninja-build g++-mingw-w64-x86-64-posix googletest libcli11-dev \
    wine64 wine fonts-wine xvfb xauth imagemagick

cmake --preset windows >/dev/null
cmake --build --preset windows -j 2 --target tessary tessary-screenshot-driver

work="$(mktemp -d "${TMPDIR:-/tmp}/tessary-screenshot.XXXXXX")"
export WINEPREFIX="${work}/prefix" WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml="
export HOME="${work}/home"
mkdir -p "${WINEPREFIX}" "${HOME}"

xvfb_pid=""
app_pid=""
cleanup() {
    [ -n "${app_pid}" ] && kill "${app_pid}" 2>/dev/null || true
    timeout 30 wineserver -k >/dev/null 2>&1 || true
    if [ -n "${xvfb_pid}" ]; then
        kill "${xvfb_pid}" 2>/dev/null || true
        wait "${xvfb_pid}" 2>/dev/null || true
    fi
    rm -rf "${work}"
}
trap cleanup EXIT

exec {display_fd}<> <(:)
Xvfb -displayfd "${display_fd}" -screen 0 1024x768x24 -nolisten tcp >"${work}/xvfb.log" 2>&1 &
xvfb_pid=$!
read -r -t 30 -u "${display_fd}" display_number
exec {display_fd}>&-
export DISPLAY=":${display_number}"

timeout 60 wineserver -p </dev/null >/dev/null 2>&1
timeout 180 wine wineboot --init </dev/null >/dev/null 2>&1
cp /usr/share/wine/fonts/*.ttf "${WINEPREFIX}/drive_c/windows/Fonts/" 2>/dev/null || true
timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
    </dev/null >/dev/null 2>&1

# The samples, copied so that nothing in the work tree is touched, in a
# folder the open dialog is given with backslashes.
mkdir -p "${work}/samples"
cp samples/*.tga "${work}/samples/"
names=()
for sample in "${work}"/samples/*.tga; do
    names+=("$(basename "${sample}")")
done
folder="Z:$(printf '%s' "${work}/samples" | tr '/' '\\')"

timeout 120 wine build/windows/app/win32/tessary.exe </dev/null >/dev/null 2>&1 &
app_pid=$!
geometry="$(timeout 120 wine build/windows/tests/win32/tessary-screenshot-driver.exe \
    "${folder}" "${names[@]}" </dev/null 2>"${work}/driver.log" | tr -d '\r')" || {
    cat "${work}/driver.log" >&2
    exit 1
}
read -r x y width height <<<"${geometry}"

mkdir -p docs
import -window root -crop "${width}x${height}+${x}+${y}" +repage docs/screenshot-windows.png
echo "saved docs/screenshot-windows.png (${width}x${height})"
