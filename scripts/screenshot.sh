#!/usr/bin/env bash
# Starts the real dialog on a virtual X display (Xvfb), lets it fix a folder
# of textures (copies of the bundled samples, one of them broken) and saves
# two pictures of the window side by side in docs/screenshot-linux.png (or
# the path given as the first argument): mid-batch, then after the batch.
#
# The folder is passed on the command line, so the file picker is skipped;
# the folder picker opens in the current folder, the destination, and is
# answered with Enter, as a user would. Mid-batch the dialog is paused
# (SIGSTOP) while the picture is taken, so that it shows one moment.
# Set TESSARY_DIALOG to use an already built program,
# TESSARY_SCREENSHOT_TRACE=1 to trace the steps on the virtual display.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
shot="${1:-docs/screenshot-linux.png}"
case "${shot}" in /*) ;; *) shot="${root}/${shot}" ;; esac

# Xvfb and xauth for the display, ImageMagick's import for the pictures,
# xwininfo to find the window, openbox for a title bar around it, xdotool
# to press Enter in the folder picker.
bash scripts/install-deps.sh xvfb xauth imagemagick x11-utils openbox xdotool

dialog="${TESSARY_DIALOG:-}"
if [ -z "${dialog}" ]; then
    bash scripts/install-deps.sh build-essential cmake ninja-build libcli11-dev qt6-base-dev
    cmake -S . -B build/screenshot -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSARY_GUI=ON \
        -DTESSARY_BUILD_TESTS=OFF -DTESSARY_BUILD_BENCH=OFF -DTESSARY_BUILD_FUZZ=OFF >/dev/null
    cmake --build build/screenshot --target tessary
    dialog="build/screenshot/app/gui/tessary"
fi
dialog="$(realpath "${dialog}")"

samples=(samples/*.tga)
if [ ! -e "${samples[0]}" ]; then
    echo "no samples/*.tga to fix" >&2
    exit 1
fi
work="$(mktemp -d /tmp/tessary-screenshot.XXXXXX)"
# The destination shows in every log line: a short one keeps them all in view.
fixed="$(mktemp -d /tmp/fixed-XXX)"
trap 'rm -rf "${work}" "${fixed}"' EXIT
mkdir -p "$(dirname "${shot}")"

# Enough files for the batch to last a few seconds; the broken one sorts
# last, so its line stands just above the summary.
textures="${work}/textures"
for folder in stone terrain wood; do
    mkdir -p "${textures}/${folder}"
    for i in $(seq -w 1 80); do
        for sample in "${samples[@]}"; do
            cp "${sample}" "${textures}/${folder}/${i}-$(basename "${sample}")"
        done
    done
done
head -c 100 samples/top-down.tga >"${textures}/wood/cracked-plank.tga"
total="$(find "${textures}" -name '*.tga' | wc -l)"

# Runs on the virtual display: window manager, dialog, folder picker,
# the two pictures.
cat >"${work}/session.sh" <<'SESSION'
set -euo pipefail
dialog="$1" shot="$2" fixed="$3" textures="$4" total="$5" work="$6"
openbox >/dev/null 2>&1 &
wm=$!
sleep 1
(cd "${fixed}" && exec "${dialog}" "${textures}") &
app=$!
trap 'kill -CONT "${app}" 2>/dev/null; kill "${app}" "${wm}" 2>/dev/null || true' EXIT

# The dialog's own window carries the class "tessary" (Qt's helper windows
# share the title but not the class); its title is "Tessary", "NN% - Tessary"
# during a batch.
window_titled() {
    xwininfo -root -tree | awk -v title="$1" '
        index($0, "(\"tessary\"") && $0 ~ "\"" title "\": " && !found { print $1; found = 1 }'
}
wait_for() {  # command... : polls for up to 30 seconds
    for _ in $(seq 1 300); do
        "$@" && return 0
        sleep 0.1
    done
    echo "timed out: $*" >&2
    exit 1
}
third_fixed() { [ "$(find "${fixed}" -name '*.tga' | wc -l)" -ge $((total / 3)) ]; }
idle() { [ -n "$(window_titled 'Tessary')" ]; }

picker="$(xdotool search --sync --name 'Select destination folder' | head -n 1)"
xdotool windowactivate --sync "${picker}" key Return
wait_for third_fixed
kill -STOP "${app}"
sleep 0.3
import -window "$(window_titled '[0-9]+% - Tessary')" -frame "${work}/running.png"
kill -CONT "${app}"

wait_for idle
sleep 1
import -window "$(window_titled 'Tessary')" -frame "${work}/done.png"
SESSION

# A configuration folder of its own: nothing another run remembered (a
# destination, a source folder) changes the pictures.
XDG_CONFIG_HOME="${work}/config" XDG_RUNTIME_DIR="${work}" QT_QPA_PLATFORM=xcb \
    xvfb-run -a -s "-screen 0 1280x800x24 -dpi 96 -nolisten tcp" \
    bash ${TESSARY_SCREENSHOT_TRACE:+-x} "${work}/session.sh" "${dialog}" "${shot}" "${fixed}" \
    "${textures}" "${total}" "${work}"
convert "${work}/running.png" -size 16x1 xc:none "${work}/done.png" -background none +append \
    "${shot}"
echo "saved ${shot#"${root}"/}"
