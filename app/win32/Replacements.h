// Files a batch would write over, found before anything is written, and the
// questions the dialog asks, worded as the other dialog words them.
#pragma once

#include <cstddef>
#include <string>

#include "batch/BatchPlan.h"

struct Replacements {
    std::size_t count = 0;      // destinations that exist already
    std::size_t originals = 0;  // of those, the source files themselves
};

// Each destination counts once, however many files of the plan name it (in
// whatever letter case, where the system ignores it). A folder in the way is
// no file to replace; its job fails.
Replacements FindReplacements(const Batch::BatchPlan& plan);

// A question with two answers: `accept` goes ahead, `reject` (the default,
// for Enter and Escape) changes nothing. "&" marks an answer's access key.
struct Question {
    std::string text;
    std::string detail;
    std::string accept;
    std::string reject;
};

// Whether to write over the files, saying how many, where, and whether they
// are the originals.
Question ReplaceQuestion(const Replacements& replacements, const std::string& destination);
// Whether to stop the running batch and quit.
Question QuitQuestion();
