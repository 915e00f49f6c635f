#!/usr/bin/env bash
# Starts the real dialog on a virtual X display (Xvfb), lets it fix the
# bundled samples and saves a picture of the window to
# docs/screenshot-linux.png (or the path given as the first argument).
#
# The samples are passed on the command line, so the file picker is skipped;
# TESSARY_DESTINATION answers the folder picker, which exists for scripted
# runs like this one. Set TESSARY_DIALOG to use an already built program,
# TESSARY_SCREENSHOT_TRACE=1 to trace the steps on the virtual display.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
shot="${1:-docs/screenshot-linux.png}"
case "${shot}" in /*) ;; *) shot="${root}/${shot}" ;; esac

# Xvfb and xauth for the display, ImageMagick's import for the picture,
# xwininfo to find the window, openbox for a title bar around it.
bash scripts/install-deps.sh xvfb xauth imagemagick x11-utils openbox

dialog="${TESSARY_DIALOG:-}"
if [ -z "${dialog}" ]; then
    bash scripts/install-deps.sh build-essential cmake ninja-build libcli11-dev qt6-base-dev
    cmake -S . -B build/screenshot -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSARY_GUI=ON \
        -DTESSARY_BUILD_TESTS=OFF -DTESSARY_BUILD_BENCH=OFF -DTESSARY_BUILD_FUZZ=OFF >/dev/null
    cmake --build build/screenshot --target tessary
    dialog="build/screenshot/app/gui/tessary"
fi
dialog="$(realpath "${dialog}")"

work="$(mktemp -d /tmp/tessary-screenshot.XXXXXX)"
# The destination shows in every log line: a short one keeps them all in view.
fixed="$(mktemp -d /tmp/fixed-XXX)"
trap 'rm -rf "${work}" "${fixed}"' EXIT
mkdir -p "$(dirname "${shot}")"
samples=(samples/*.tga)

# Runs on the virtual display: window manager, dialog, wait, picture.
cat >"${work}/session.sh" <<'SESSION'
set -euo pipefail
dialog="$1" shot="$2" fixed="$3"
shift 3
openbox >/dev/null 2>&1 &
wm=$!
sleep 1
TESSARY_DESTINATION="${fixed}" "${dialog}" "$@" &
app=$!
# The batch is over once every sample has its fixed copy; allow the log a
# moment to paint.
for _ in $(seq 1 200); do
    [ "$(find "${fixed}" -name '*.tga' | wc -l)" -ge "$#" ] && break
    sleep 0.1
done
sleep 1.5
# The dialog's own window carries the class "tessary"; Qt's helper windows
# share the title but not the class.
window="$(xwininfo -root -tree | awk '/"Tessary": \("tessary"/ && !found { print $1; found = 1 }')"
if [ -z "${window}" ]; then
    echo "the dialog's window did not appear" >&2
    kill "${app}" "${wm}" 2>/dev/null || true
    exit 1
fi
import -window "${window}" -frame "${shot}"
kill "${app}" "${wm}" 2>/dev/null || true
wait "${app}" 2>/dev/null || true
SESSION

if [ ! -e "${samples[0]}" ]; then
    echo "no samples/*.tga to fix" >&2
    exit 1
fi
XDG_RUNTIME_DIR="${work}" QT_QPA_PLATFORM=xcb \
    xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96 -nolisten tcp" \
    bash ${TESSARY_SCREENSHOT_TRACE:+-x} "${work}/session.sh" "${dialog}" "${shot}" "${fixed}" "${samples[@]/#/${root}/}"
echo "saved ${shot#"${root}"/}"
