#!/usr/bin/env bash
# The Windows build: cross-built with mingw-w64, its test suite run under
# wine with a throwaway prefix, a persistent wineserver and an Xvfb display
# for the dialog tests (scripts/wine-session.sh says why each precaution is
# there). ctest always runs with a timeout.
set -euo pipefail
cd "$(dirname "$0")/../.."

bash scripts/install-deps.sh cmake ninja-build g++-mingw-w64-x86-64-posix googletest libcli11-dev \
    wine64 wine fonts-wine xvfb xauth

cmake --preset windows
cmake --build --preset windows -j 2

work="$(mktemp -d "${TMPDIR:-/tmp}/tessary-windows.XXXXXX")"
source scripts/wine-session.sh
cleanup() {
    wine_session_stop
    rm -rf "${work}"
}
trap cleanup EXIT
wine_session_start "${work}" 1280x1024x24

ctest --preset windows --timeout 120 --stop-on-failure
