#!/usr/bin/env bash
# Installs what is missing (Debian packages, as root), builds and runs every
# test suite. Each stage lives in scripts/test.d and runs in name order.
set -euo pipefail
cd "$(dirname "$0")/.."
for stage in scripts/test.d/*.sh; do
    echo "==> ${stage}"
    bash "${stage}"
done
echo "==> all test stages passed"
