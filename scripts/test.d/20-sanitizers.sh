#!/usr/bin/env bash
# The whole test suite again, built with AddressSanitizer and
# UndefinedBehaviorSanitizer (preset asan): the first report ends the test
# that made it, so a memory error or undefined behaviour fails the stage.
set -euo pipefail
bash scripts/install-deps.sh build-essential cmake ninja-build pkg-config \
    libgtest-dev libgmock-dev libcli11-dev libpng-dev qt6-base-dev
build_dir="${TESSARY_ASAN_BUILD_DIR:-build/asan}"
cmake --preset asan -B "${build_dir}"
cmake --build "${build_dir}" -j "${TESSARY_BUILD_JOBS:-$(nproc)}"
ctest --preset asan --test-dir "${build_dir}" -j "${TESSARY_TEST_JOBS:-$(nproc)}"
