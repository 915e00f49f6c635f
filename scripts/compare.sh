#!/usr/bin/env bash
# Installs what is missing (as root): python3, and GNU time for peak memory.
# Builds the programs (preset programs) and runs the whole-process comparison
# bench/compare.py on that tessary-cli; arguments are passed on (--help).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh build-essential cmake ninja-build libcli11-dev python3 time
cmake --preset programs >/dev/null
cmake --build --preset programs --target tessary-cli
exec python3 bench/compare.py --cli build/programs/app/cli/tessary-cli "$@"
