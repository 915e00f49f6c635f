#!/usr/bin/env bash
# The native build with warnings as errors, and its whole test suite.
set -euo pipefail
bash scripts/install-deps.sh build-essential cmake ninja-build pkg-config \
    libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev libpng-dev libssl-dev \
    qt6-base-dev xvfb xauth parallel acl attr
cmake --preset ci
cmake --build --preset ci
ctest --preset ci
