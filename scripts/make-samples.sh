#!/usr/bin/env bash
# Installs python3 when it is missing (as root) and writes the bundled samples
# again (samples/make-samples.py; arguments are passed on).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh python3
exec python3 samples/make-samples.py "$@"
