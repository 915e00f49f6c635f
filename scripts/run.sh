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

# Only the programs: the test suites, benchmarks and fuzz targets have their
# own command (scripts/test.sh).
cmake --preset default -DTESSARY_BUILD_TESTS=OFF -DTESSARY_BUILD_BENCH=OFF \
    -DTESSARY_BUILD_FUZZ=OFF >/dev/null
cmake --build --preset default

# ---- The dialog -------------------------------------------------------------
# Started instead of the command line when there is a display and the dialog
# was built (it needs Qt 6). Add further locations here if its target moves.
dialog=""
for candidate in build/default/app/gui/tessary build/default/app/gui/Tessary; do
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
build/default/app/cli/tessary-cli -o "${output}" samples || status=$?
echo "Check the results with: build/default/app/cli/tessary-cli --check ${output}"
exit "${status}"
