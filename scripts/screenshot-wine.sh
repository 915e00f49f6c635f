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
source scripts/wine-session.sh
app_pid=""
cleanup() {
    [ -n "${app_pid}" ] && kill "${app_pid}" 2>/dev/null || true
    wine_session_stop
    rm -rf "${work}"
}
trap cleanup EXIT
wine_session_start "${work}" 1024x768x24

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
