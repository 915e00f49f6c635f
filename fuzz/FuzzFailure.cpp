#include <cstdio>
#include <cstdlib>

#include "FuzzTarget.h"

void FuzzFailure(const char* what) {
    std::fprintf(stderr, "fuzz target: %s\n", what);
    std::fflush(stderr);
    std::abort();
}
