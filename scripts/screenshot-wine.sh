#!/usr/bin/env bash
# Runs tessary.exe under wine on an Xvfb display over a folder of textures
# (copies of the bundled samples, one of them broken) named on its command
# line, answers the folder picker as a user would, and saves two pictures of
# the window side by side in docs/screenshot-windows.png: mid-batch, then
# after the batch.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh cmake ninja-build g++-mingw-w64-x86-64-posix googletest libcli11-dev \
    wine64 wine fonts-wine xvfb xauth imagemagick

cmake --preset windows >/dev/null
cmake --build --preset windows -j 2 --target tessary tessary-screenshot-driver

work="$(mktemp -d "${TMPDIR:-/tmp}/tessary-screenshot.XXXXXX")"
# The destination shows in every log line: a short one keeps them in view.
fixed="$(mktemp -d /tmp/fixed-XXX)"
source scripts/wine-session.sh
app_pid=""
cleanup() {
    [ -n "${app_pid}" ] && kill "${app_pid}" 2>/dev/null || true
    wine_session_stop
    rm -rf "${work}" "${fixed}"
}
trap cleanup EXIT
wine_session_start "${work}" 1024x768x24

# Enough files for the batch to last a few seconds; the broken one sorts
# last, so its line stands just above the summary.
textures="${work}/textures"
for folder in stone terrain wood; do
    mkdir -p "${textures}/${folder}"
    for i in $(seq -w 1 80); do
        for sample in samples/*.tga; do
            cp "${sample}" "${textures}/${folder}/${i}-$(basename "${sample}")"
        done
    done
done
head -c 100 samples/top-down.tga >"${textures}/wood/cracked-plank.tga"
total="$(find "${textures}" -name '*.tga' | wc -l)"
windows_path() { printf 'Z:%s' "$1" | tr '/' '\\'; }

driver=build/windows/tests/win32/tessary-screenshot-driver.exe
timeout 300 wine build/windows/app/win32/tessary.exe "$(windows_path "${textures}")" \
    </dev/null >/dev/null 2>&1 &
app_pid=$!
shoot() {  # driver step..., picture
    local geometry x y width height
    geometry="$(timeout 300 wine "${driver}" "${@:1:$#-1}" </dev/null 2>"${work}/driver.log" |
        tr -d '\r')" || {
        cat "${work}/driver.log" >&2
        exit 1
    }
    read -r x y width height <<<"${geometry}"
    import -window root -crop "${width}x${height}+${x}+${y}" +repage "${@: -1}"
}
timeout 120 wine "${driver}" pick "$(windows_path "${fixed}")" </dev/null
shoot lines $((total / 3)) "${work}/running.png"
shoot idle "${work}/done.png"

mkdir -p docs
convert "${work}/running.png" "${work}/done.png" -background black -splice 16x0 +append \
    -chop 16x0 docs/screenshot-windows.png
echo "saved docs/screenshot-windows.png"
