#!/usr/bin/env bash
# Installs what is missing (Debian packages, as root), builds Tessary and runs
# it: the dialog where there is a display, otherwise the command line on the
# bundled samples into a fresh folder, printing the log.
set -euo pipefail
cd "$(dirname "$0")/.."

has_display() {
    [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]
}

packages=(build-essential cmake ninja-build libcli11-dev)
if has_display; then
    packages+=(qt6-base-dev)  # the dialog; without it only the command line is built
fi
bash scripts/install-deps.sh "${packages[@]}"

# Only the programs, in a build folder of their own (build/programs): the test
# suites, benchmarks and fuzz targets have their own command (scripts/test.sh).
cmake --preset programs >/dev/null
cmake --build --preset programs

# ---- The dialog -------------------------------------------------------------
# Started instead of the command line when there is a display and the dialog
# was built (it needs Qt 6). Add further locations here if its target moves.
dialog=""
for candidate in build/programs/app/gui/tessary build/programs/app/gui/Tessary; do
    if [ -x "${candidate}" ]; then
        dialog="${candidate}"
        break
    fi
done
if has_display && [ -n "${dialog}" ]; then
    exec "${dialog}"
fi
# -----------------------------------------------------------------------------

output="$(mktemp -d)"
echo "Converting the bundled samples into ${output}:"
status=0
build/programs/app/cli/tessary-cli -o "${output}" samples || status=$?
echo "Check the results with: build/programs/app/cli/tessary-cli --check ${output}"
exit "${status}"
