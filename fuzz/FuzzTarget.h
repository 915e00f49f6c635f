// The one entry point every fuzz target defines. libFuzzer calls it with
// each input it makes; the replay main calls it with each file it is given.
// A target returns 0 and reports a broken property by aborting, so that
// both drivers see a crash.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

// Aborts with a short note on stderr: the property that did not hold.
[[noreturn]] void FuzzFailure(const char* what);

#define FUZZ_REQUIRE(condition)                   \
    do {                                          \
        if (!(condition)) {                       \
            FuzzFailure("required: " #condition); \
        }                                         \
    } while (false)
