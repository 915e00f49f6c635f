#include "support/Corpus.h"

#include <filesystem>

std::string CorpusDir() {
    return TESSARY_CORPUS_DIR;
}

bool HaveCorpus() {
    std::error_code ignored;
    return std::filesystem::is_directory(CorpusDir(), ignored);
}

std::string CorpusMissing() {
    return "no TGA corpus at " + CorpusDir() +
           " (configure with -DTESSARY_CORPUS_DIR=<folder> to run these tests)";
}
