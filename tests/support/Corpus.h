// Where the public TGA corpus is expected, and the skip reported when it is
// not there: tests driven by it say so once instead of passing quietly.
#pragma once

#include <string>

#include <gtest/gtest.h>

// The folder the build was configured with (TESSARY_CORPUS_DIR).
std::string CorpusDir();
bool HaveCorpus();
// "no TGA corpus at <folder> (...)", for the skip.
std::string CorpusMissing();

#define SKIP_WITHOUT_CORPUS()                \
    do {                                     \
        if (!HaveCorpus()) {                 \
            GTEST_SKIP() << CorpusMissing(); \
        }                                    \
    } while (false)
