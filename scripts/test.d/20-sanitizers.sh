#!/usr/bin/env bash
# The whole test suite again, built with AddressSanitizer and
# UndefinedBehaviorSanitizer (preset asan): the first report ends the test
# that made it, so a memory error or undefined behaviour fails the stage.
# TESSARY_ASAN_BUILD_DIR builds elsewhere than the preset's folder.
set -euo pipefail
bash scripts/install-deps.sh build-essential cmake ninja-build pkg-config \
    libgtest-dev libgmock-dev libcli11-dev libpng-dev libssl-dev qt6-base-dev parallel
jobs="${TESSARY_BUILD_JOBS:-$(nproc)}"
if [ -z "${TESSARY_ASAN_BUILD_DIR:-}" ]; then
    cmake --preset asan
    cmake --build --preset asan -j "${jobs}"
    ctest --preset asan -j "${jobs}"
else
    # ctest's presets always use the preset's folder: the same settings by hand.
    cmake --preset asan -B "${TESSARY_ASAN_BUILD_DIR}"
    cmake --build "${TESSARY_ASAN_BUILD_DIR}" -j "${jobs}"
    ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:allocator_may_return_null=1 \
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        ctest --test-dir "${TESSARY_ASAN_BUILD_DIR}" --output-on-failure --timeout 600 -j "${jobs}"
fi
